#pragma once

#include <QObject>
#include <QString>

// The vMix polling options used during live streams.
class LiveStreamSettings : public QObject
{
    Q_OBJECT
    Q_PROPERTY(
        bool pollVMixApi READ pollVMixApi WRITE setPollVMixApi NOTIFY property_pollVMixApiChanged)
    Q_PROPERTY(QString vMixApiEndpoint READ vMixApiEndpoint WRITE setVMixApiEndpoint NOTIFY
                   property_vMixApiEndpointChanged)
    Q_PROPERTY(qint64 vMixApiPollInterval READ vMixApiPollInterval WRITE setVMixApiPollInterval
                   NOTIFY property_vMixApiPollIntervalChanged)

public:
    // The vMix HTTP API on the same computer.
    static constexpr char defaultVMixApiEndpoint[] = "http://127.0.0.1:8088/api/";
    static constexpr qint64 defaultVMixApiPollInterval = 5000;
    // What the settings screen accepts; a stored value outside is brought into the range.
    static constexpr qint64 minVMixApiPollInterval = 100;
    static constexpr qint64 maxVMixApiPollInterval = 60000;

    static LiveStreamSettings *instance();

    void load();
    void save() const;

    [[nodiscard]] bool pollVMixApi() const { return m_pollVMixApi; }
    [[nodiscard]] QString vMixApiEndpoint() const { return m_vMixApiEndpoint; }
    [[nodiscard]] qint64 vMixApiPollInterval() const { return m_vMixApiPollInterval; }

public Q_SLOTS:
    void setPollVMixApi(bool newVal);
    void setVMixApiEndpoint(const QString &newVal);
    void setVMixApiPollInterval(qint64 newVal);

Q_SIGNALS:
    void property_pollVMixApiChanged();
    void property_vMixApiEndpointChanged();
    void property_vMixApiPollIntervalChanged();

private:
    LiveStreamSettings();
    void scheduleSave();

    bool m_savePending = false;

    bool m_pollVMixApi = false;
    QString m_vMixApiEndpoint = QString::fromLatin1(defaultVMixApiEndpoint);
    qint64 m_vMixApiPollInterval = defaultVMixApiPollInterval;
};
