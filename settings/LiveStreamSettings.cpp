#include "LiveStreamSettings.h"

#include "EndpointPolicy.h"
#include "SettingsFile.h"

#include <QDebug>
#include <QSettings>
#include <QTimer>
#include <QUrl>

LiveStreamSettings *LiveStreamSettings::instance()
{
    static LiveStreamSettings settings;
    return &settings;
}

LiveStreamSettings::LiveStreamSettings()
{
    connect(this, &LiveStreamSettings::property_pollVMixApiChanged, this,
            &LiveStreamSettings::scheduleSave);
    connect(this, &LiveStreamSettings::property_vMixApiEndpointChanged, this,
            &LiveStreamSettings::scheduleSave);
    connect(this, &LiveStreamSettings::property_vMixApiPollIntervalChanged, this,
            &LiveStreamSettings::scheduleSave);
}

// Every change in one pass of the event loop is written by one save on the next pass.
void LiveStreamSettings::scheduleSave()
{
    if (m_savePending)
        return;
    m_savePending = true;
    QTimer::singleShot(0, this, [this] {
        m_savePending = false;
        save();
    });
}

void LiveStreamSettings::load()
{
    QSettings settings;
    const QString defaultEndpoint = QString::fromLatin1(defaultVMixApiEndpoint);
    QString endpoint =
        settings.value(QStringLiteral("liveStreamSettings/vMixApiEndpoint"), defaultEndpoint)
            .toString();
    qDebug() << "[LiveStreamSettings]"
             << "load" << settings.fileName()
             << EndpointPolicy::withoutUserInfo(QUrl(endpoint, QUrl::TolerantMode));

    const bool poll =
        settings.value(QStringLiteral("liveStreamSettings/pollVMixApi"), false).toBool();
    qint64 interval = settings
                          .value(QStringLiteral("liveStreamSettings/vMixApiPollInterval"),
                                 defaultVMixApiPollInterval)
                          .toLongLong();
    if (endpoint.isEmpty())
        endpoint = defaultEndpoint;
    if (interval < 1)
        interval = defaultVMixApiPollInterval;
    // A few milliseconds would poll on every pass of the event loop, hours would look enabled
    // and send nothing.
    interval = qBound(minVMixApiPollInterval, interval, maxVMixApiPollInterval);

    // Loading is not a change: it schedules no save.
    m_pollVMixApi = poll;
    m_vMixApiEndpoint = endpoint;
    m_vMixApiPollInterval = interval;
}

void LiveStreamSettings::save() const
{
    QSettings settings;
    qDebug() << "[LiveStreamSettings]"
             << "save" << settings.fileName();
    SettingsFile::restrictToOwner(settings.fileName());
    settings.setValue(QStringLiteral("liveStreamSettings/pollVMixApi"), m_pollVMixApi);
    settings.setValue(QStringLiteral("liveStreamSettings/vMixApiEndpoint"), m_vMixApiEndpoint);
    settings.setValue(QStringLiteral("liveStreamSettings/vMixApiPollInterval"),
                      m_vMixApiPollInterval);
    settings.sync();
    SettingsFile::restrictToOwner(settings.fileName());
}

void LiveStreamSettings::setPollVMixApi(bool newVal)
{
    if (m_pollVMixApi == newVal)
        return;
    m_pollVMixApi = newVal;
    emit property_pollVMixApiChanged();
}

void LiveStreamSettings::setVMixApiEndpoint(const QString &newVal)
{
    if (m_vMixApiEndpoint == newVal)
        return;
    m_vMixApiEndpoint = newVal;
    emit property_vMixApiEndpointChanged();
}

void LiveStreamSettings::setVMixApiPollInterval(qint64 newVal)
{
    if (m_vMixApiPollInterval == newVal)
        return;
    m_vMixApiPollInterval = newVal;
    emit property_vMixApiPollIntervalChanged();
}
