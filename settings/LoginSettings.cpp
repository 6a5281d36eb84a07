#include "LoginSettings.h"

#include "SettingsFile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTimer>

LoginSettings *LoginSettings::instance()
{
    static LoginSettings settings;
    return &settings;
}

LoginSettings::LoginSettings()
{
    connect(this, &LoginSettings::property_loginEmailChanged, this, &LoginSettings::scheduleSave);
    connect(this, &LoginSettings::property_liveStreamResumeChanged, this,
            &LoginSettings::scheduleSave);
    connect(this, &LoginSettings::property_liveStreamPresentationIdChanged, this,
            &LoginSettings::scheduleSave);
    connect(this, &LoginSettings::property_liveStreamPresentationTitleChanged, this,
            &LoginSettings::scheduleSave);
    connect(this, &LoginSettings::property_liveStreamLastRequestAtChanged, this,
            &LoginSettings::scheduleSave);
    connect(this, &LoginSettings::property_liveStreamTokenChanged, this,
            &LoginSettings::scheduleSave);
}

// Every change in one pass of the event loop is written by one save on the next pass.
void LoginSettings::scheduleSave()
{
    if (m_savePending)
        return;
    m_savePending = true;
    QTimer::singleShot(0, this, [this] {
        m_savePending = false;
        save();
    });
}

void LoginSettings::load()
{
    QSettings settings;
    qDebug() << "[LoginSettings]"
             << "load" << settings.fileName();

    setLoginEmail(settings.value(QStringLiteral("loginSettings/loginEmail"), QString()).toString());
    setLiveStreamResume(
        settings.value(QStringLiteral("loginSettings/liveStreamResume"), false).toBool());
    setLiveStreamPresentationId(
        settings.value(QStringLiteral("loginSettings/liveStreamPresentationId"), QString())
            .toString());
    setLiveStreamPresentationTitle(
        settings.value(QStringLiteral("loginSettings/liveStreamPresentationTitle"), QString())
            .toString());
    setLiveStreamLastRequestAt(
        settings.value(QStringLiteral("loginSettings/liveStreamLastRequestAt"), QDateTime())
            .toDateTime());

    const QDateTime now = QDateTime::currentDateTime();
    if (m_liveStreamLastRequestAt.isValid() &&
        m_liveStreamLastRequestAt.secsTo(now) < tokenLifetimeSeconds) {
        setLiveStreamToken(
            settings.value(QStringLiteral("loginSettings/liveStreamToken"), QString()).toString());
    } else {
        setLiveStreamToken(QString());
    }
}

void LoginSettings::save() const
{
    QSettings settings;
    qDebug() << "[LoginSettings]"
             << "save" << settings.fileName();
    SettingsFile::restrictToOwner(settings.fileName());
    settings.setValue(QStringLiteral("loginSettings/loginEmail"), m_loginEmail);
    settings.setValue(QStringLiteral("loginSettings/liveStreamResume"), m_liveStreamResume);
    settings.setValue(QStringLiteral("loginSettings/liveStreamPresentationId"),
                      m_liveStreamPresentationId);
    settings.setValue(QStringLiteral("loginSettings/liveStreamPresentationTitle"),
                      m_liveStreamPresentationTitle);
    settings.setValue(QStringLiteral("loginSettings/liveStreamLastRequestAt"),
                      m_liveStreamLastRequestAt);
    settings.setValue(QStringLiteral("loginSettings/liveStreamToken"), m_liveStreamToken);
    settings.sync();
    SettingsFile::restrictToOwner(settings.fileName());
}

void LoginSettings::setLoginEmail(const QString &newVal)
{
    if (m_loginEmail == newVal)
        return;
    m_loginEmail = newVal;
    emit property_loginEmailChanged();
}

void LoginSettings::setLiveStreamResume(bool newVal)
{
    if (m_liveStreamResume == newVal)
        return;
    m_liveStreamResume = newVal;
    emit property_liveStreamResumeChanged();
}

void LoginSettings::setLiveStreamPresentationId(const QString &newVal)
{
    if (m_liveStreamPresentationId == newVal)
        return;
    m_liveStreamPresentationId = newVal;
    emit property_liveStreamPresentationIdChanged();
}

void LoginSettings::setLiveStreamPresentationTitle(const QString &newVal)
{
    if (m_liveStreamPresentationTitle == newVal)
        return;
    m_liveStreamPresentationTitle = newVal;
    emit property_liveStreamPresentationTitleChanged();
}

void LoginSettings::setLiveStreamLastRequestAt(const QDateTime &newVal)
{
    if (m_liveStreamLastRequestAt == newVal)
        return;
    m_liveStreamLastRequestAt = newVal;
    emit property_liveStreamLastRequestAtChanged();
}

void LoginSettings::setLiveStreamToken(const QString &newVal)
{
    if (m_liveStreamToken == newVal)
        return;
    m_liveStreamToken = newVal;
    emit property_liveStreamTokenChanged();
}
