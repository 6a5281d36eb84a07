#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

// The login settings as the live stream page sees them, without the store.
class QmlFakeLoginSettings : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString loginEmail MEMBER loginEmail NOTIFY property_loginEmailChanged)
    Q_PROPERTY(
        bool liveStreamResume MEMBER liveStreamResume NOTIFY property_liveStreamResumeChanged)
    Q_PROPERTY(QString liveStreamPresentationId MEMBER liveStreamPresentationId NOTIFY
                   property_liveStreamPresentationIdChanged)
    Q_PROPERTY(QString liveStreamPresentationTitle MEMBER liveStreamPresentationTitle NOTIFY
                   property_liveStreamPresentationTitleChanged)
    Q_PROPERTY(QDateTime liveStreamLastRequestAt MEMBER liveStreamLastRequestAt NOTIFY
                   property_liveStreamLastRequestAtChanged)
    Q_PROPERTY(
        QString liveStreamToken MEMBER liveStreamToken NOTIFY property_liveStreamTokenChanged)

public:
    using QObject::QObject;

    QString loginEmail;
    bool liveStreamResume = false;
    QString liveStreamPresentationId;
    QString liveStreamPresentationTitle;
    QDateTime liveStreamLastRequestAt;
    QString liveStreamToken;

Q_SIGNALS:
    void property_loginEmailChanged();
    void property_liveStreamResumeChanged();
    void property_liveStreamPresentationIdChanged();
    void property_liveStreamPresentationTitleChanged();
    void property_liveStreamLastRequestAtChanged();
    void property_liveStreamTokenChanged();
};
