#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QObject>
#include <QString>
#include <QStringList>

class WebApiReply;

// The client of the Quillora web service: one base address, JSON bodies carrying the application
// version and the current credentials, the login and the live stream's requests.
class WebApi : public QObject
{
    Q_OBJECT

public:
    struct RecordingAppPingData
    {
        QString name;
        QString version;
        QDateTime startedAt;
        QStringList errorMessages;
        QString slidesSource;
        bool useNativeSlideSourceResolution = false;
        int slidesSourceWidth = 0;
        int slidesSourceHeight = 0;
        QString audioSource;
        int audioChannels = 0;
        bool slidesFrozen = false;
        QStringList resolutions;
        int capturedCount = 0;
        int savedCount = 0;
        int toUploadCount = 0;
        int uploadedCount = 0;
        int uploadFailedCount = 0;
        int webSuccessCount = 0;
        int webFailedCount = 0;
        bool webSuccessForLastSlide = false;
        QString webErrorForLastSlide;
    };

    struct VMixPingData
    {
        bool pollingEnabled = false;
        QString pollingEndpoint;
        int pollingInterval = 0;
        QDateTime lastPollAt;
        QDateTime lastPollSuccessAt;
        QString pollingLastError;
        QString xml;
    };

    // A hung answer must not block its caller for good (the status ping waits for each reply).
    static constexpr int transferTimeoutMs = 30000;

    static WebApi *instance();

    // The web service's base address: the build's default unless QUILLORA_API_URL is set.
    [[nodiscard]] static QUrl apiUrl();
    // The web site used in links: the build's default unless QUILLORA_SITE_URL is set.
    [[nodiscard]] static QString siteUrl();

    [[nodiscard]] bool isLoggedIn() const { return m_loggedIn; }
    // Why the last login failed: the service's message, the network's, or a refused answer.
    [[nodiscard]] const QString &loginError() const { return m_loginError; }
    // Empty when the configured address may carry credentials; otherwise why no request is sent.
    [[nodiscard]] const QString &addressRefusal() const { return m_addressRefusal; }

    // The address of path ("/api/v1/login") on the web service at base, below base's own path
    // when it has one (https://host/prefix).
    [[nodiscard]] static QUrl requestUrl(const QUrl &base, const QString &path);

    [[nodiscard]] QNetworkRequest createRequest(const QString &path) const;
    WebApiReply *get(const QNetworkRequest &request);
    WebApiReply *post(const QNetworkRequest &request, const QJsonObject &json);

    WebApiReply *createLiveStream(const QString &title, bool connectToExistingLiveStream,
                                  const QString &presentationId);
    WebApiReply *sendLiveStreamSlideInfo(qint64 presentationStreamId, int version, qint64 appStart,
                                         int screen, qint64 timestamp, const QString &bucket,
                                         const QString &path);
    WebApiReply *sendPingData(const QString &presentationId, int presentationStreamVersion,
                              qint64 presentationStreamStart,
                              const WebApi::RecordingAppPingData &recordingApp,
                              const WebApi::VMixPingData &vmix);

Q_SIGNALS:
    void property_loggedInChanged(bool loggedIn);
    void loginSuccessful();
    void loginFailed();

public Q_SLOTS:
    WebApiReply *login(const QString &email, const QString &password);

private Q_SLOTS:
    void storeLoginInformation();
    void storeLiveStreamInformation();

private:
    WebApi();

    QUrl m_baseUrl;
    QNetworkAccessManager m_networkAccessManager;
    bool m_loggedIn = false;
    QString m_userEmail;
    QString m_userToken;
    QString m_streamToken;
    QString m_loginError;
    QString m_addressRefusal;
};
