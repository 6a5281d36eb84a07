#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

// The user's e-mail address and the last live stream (resume choice, presentation, token and the
// time of the last request to the web service), kept across runs so that a live stream can be
// resumed without entering credentials again.
class LoginSettings : public QObject
{
    Q_OBJECT
    Q_PROPERTY(
        QString loginEmail READ loginEmail WRITE setLoginEmail NOTIFY property_loginEmailChanged)
    Q_PROPERTY(bool liveStreamResume READ liveStreamResume WRITE setLiveStreamResume NOTIFY
                   property_liveStreamResumeChanged)
    Q_PROPERTY(QString liveStreamPresentationId READ liveStreamPresentationId WRITE
                   setLiveStreamPresentationId NOTIFY property_liveStreamPresentationIdChanged)
    Q_PROPERTY(
        QString liveStreamPresentationTitle READ liveStreamPresentationTitle WRITE
            setLiveStreamPresentationTitle NOTIFY property_liveStreamPresentationTitleChanged)
    Q_PROPERTY(QDateTime liveStreamLastRequestAt READ liveStreamLastRequestAt WRITE
                   setLiveStreamLastRequestAt NOTIFY property_liveStreamLastRequestAtChanged)
    Q_PROPERTY(QString liveStreamToken READ liveStreamToken WRITE setLiveStreamToken NOTIFY
                   property_liveStreamTokenChanged)

public:
    // A stored token is offered again only if the last request lies less than this far back.
    static constexpr qint64 tokenLifetimeSeconds = 7200;

    static LoginSettings *instance();

    void load();
    void save() const;

    [[nodiscard]] QString loginEmail() const { return m_loginEmail; }
    [[nodiscard]] bool liveStreamResume() const { return m_liveStreamResume; }
    [[nodiscard]] QString liveStreamPresentationId() const { return m_liveStreamPresentationId; }
    [[nodiscard]] QString liveStreamPresentationTitle() const
    {
        return m_liveStreamPresentationTitle;
    }
    [[nodiscard]] QDateTime liveStreamLastRequestAt() const { return m_liveStreamLastRequestAt; }
    [[nodiscard]] QString liveStreamToken() const { return m_liveStreamToken; }

public Q_SLOTS:
    void setLoginEmail(const QString &newVal);
    void setLiveStreamResume(bool newVal);
    void setLiveStreamPresentationId(const QString &newVal);
    void setLiveStreamPresentationTitle(const QString &newVal);
    void setLiveStreamLastRequestAt(const QDateTime &newVal);
    void setLiveStreamToken(const QString &newVal);

Q_SIGNALS:
    void property_loginEmailChanged();
    void property_liveStreamResumeChanged();
    void property_liveStreamPresentationIdChanged();
    void property_liveStreamPresentationTitleChanged();
    void property_liveStreamLastRequestAtChanged();
    void property_liveStreamTokenChanged();

private:
    LoginSettings();
    void scheduleSave();

    bool m_savePending = false;

    QString m_loginEmail;
    bool m_liveStreamResume = false;
    QString m_liveStreamPresentationId;
    QString m_liveStreamPresentationTitle;
    QDateTime m_liveStreamLastRequestAt;
    QString m_liveStreamToken;
};
