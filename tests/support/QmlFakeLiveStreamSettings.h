#pragma once

#include <QObject>
#include <QString>

// The vMix options as the settings page sees them, without the store.
class QmlFakeLiveStreamSettings : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool pollVMixApi MEMBER pollVMixApi NOTIFY property_pollVMixApiChanged)
    Q_PROPERTY(
        QString vMixApiEndpoint MEMBER vMixApiEndpoint NOTIFY property_vMixApiEndpointChanged)
    Q_PROPERTY(qint64 vMixApiPollInterval MEMBER vMixApiPollInterval NOTIFY
                   property_vMixApiPollIntervalChanged)

public:
    using QObject::QObject;

    bool pollVMixApi = false;
    QString vMixApiEndpoint = QStringLiteral("http://127.0.0.1:8088/api/");
    qint64 vMixApiPollInterval = 5000;

Q_SIGNALS:
    void property_pollVMixApiChanged();
    void property_vMixApiEndpointChanged();
    void property_vMixApiPollIntervalChanged();
};
