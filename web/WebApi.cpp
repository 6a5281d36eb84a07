#include "WebApi.h"

#include "EndpointPolicy.h"
#include "LiveStreamAnswer.h"
#include "LoginSettings.h"
#include "WebApiReply.h"

#include <QCoreApplication>
#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QUrl>
#include <QVariant>

namespace {

constexpr char applicationVersion[] = "150";

WebApi *webApiInstance = nullptr;

// Deleted while the application object still exists: the network access manager must not
// outlive the event dispatcher its replies live on.
void deleteWebApi()
{
    delete webApiInstance;
    webApiInstance = nullptr;
}

QString isoText(const QDateTime &dateTime)
{
    return dateTime.isValid() ? dateTime.toString(Qt::ISODate) : QString();
}

QJsonArray stringArray(const QStringList &strings)
{
    QJsonArray array;
    for (const QString &string : strings)
        array.append(string);
    return array;
}

} // namespace

WebApi *WebApi::instance()
{
    if (!webApiInstance) {
        webApiInstance = new WebApi;
        qAddPostRoutine(deleteWebApi);
    }
    return webApiInstance;
}

QUrl WebApi::apiUrl()
{
    const QString configured = qEnvironmentVariable("QUILLORA_API_URL");
    return QUrl(configured.isEmpty() ? QStringLiteral(QUILLORA_DEFAULT_API_URL) : configured);
}

QString WebApi::siteUrl()
{
    const QString configured = qEnvironmentVariable("QUILLORA_SITE_URL");
    return configured.isEmpty() ? QStringLiteral(QUILLORA_DEFAULT_SITE_URL) : configured;
}

QUrl WebApi::requestUrl(const QUrl &base, const QString &path)
{
    QUrl url;
    const QString scheme = base.scheme().isEmpty() ? QStringLiteral("https") : base.scheme();
    url.setScheme(scheme);
    url.setHost(base.host());
    url.setPort(base.port(scheme == QLatin1String("http") ? 80 : 443));
    // One slash between the two, whether the configured address ends with one or not.
    QString joined = base.path(QUrl::FullyEncoded);
    while (joined.endsWith(QLatin1Char('/')))
        joined.chop(1);
    if (!path.startsWith(QLatin1Char('/')))
        joined += QLatin1Char('/');
    joined += path;
    url.setPath(joined, QUrl::TolerantMode);
    return url;
}

WebApi::WebApi() : m_baseUrl(apiUrl())
{
    m_addressRefusal =
        EndpointPolicy::refusalForCredentials(m_baseUrl, QStringLiteral("web service"));
    if (!m_addressRefusal.isEmpty())
        qWarning() << "[WebApi]" << m_addressRefusal;
}

QNetworkRequest WebApi::createRequest(const QString &path) const
{
    LoginSettings::instance()->setLiveStreamLastRequestAt(QDateTime::currentDateTime());

    QNetworkRequest request(requestUrl(m_baseUrl, path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(transferTimeoutMs);
    return request;
}

WebApiReply *WebApi::get(const QNetworkRequest &request)
{
    qDebug() << "[WebApi]"
             << "GET" << request.url();
    if (!m_addressRefusal.isEmpty())
        return WebApiReply::refused(m_addressRefusal);
    return new WebApiReply(m_networkAccessManager.get(request));
}

WebApiReply *WebApi::post(const QNetworkRequest &request, const QJsonObject &json)
{
    qDebug() << "[WebApi]"
             << "POST" << request.url();
    // Nothing goes out in clear text, not even the request that would be refused.
    if (!m_addressRefusal.isEmpty())
        return WebApiReply::refused(m_addressRefusal);
    QJsonObject body = json;
    if (!m_streamToken.isEmpty()) {
        body.insert(QStringLiteral("recording_app_stream_token"), m_streamToken);
    } else if (!m_userEmail.isEmpty() && !m_userToken.isEmpty()) {
        body.insert(QStringLiteral("user_email"), m_userEmail);
        body.insert(QStringLiteral("user_token"), m_userToken);
    }
    body.insert(QStringLiteral("recording_app_version"), QString::fromLatin1(applicationVersion));
    const QByteArray data = QJsonDocument(body).toJson(QJsonDocument::Compact);
    return new WebApiReply(m_networkAccessManager.post(request, data));
}

WebApiReply *WebApi::login(const QString &email, const QString &password)
{
    m_userEmail.clear();
    m_userToken.clear();
    m_streamToken.clear();
    m_loggedIn = false;
    m_loginError.clear();
    emit property_loggedInChanged(false);

    const QNetworkRequest request = createRequest(QStringLiteral("/api/v1/login"));
    QJsonObject body;
    body.insert(QStringLiteral("user_email"), email);
    body.insert(QStringLiteral("user_password"), password);
    WebApiReply *reply = post(request, body);
    connect(reply, &WebApiReply::error, this, [this, reply](QNetworkReply::NetworkError) {
        const QString message = reply->jsonResponse().value(QStringLiteral("message")).toString();
        m_loginError = message.isEmpty() ? reply->errorString() : message;
        emit loginFailed();
    });
    connect(reply, &WebApiReply::finished, this, &WebApi::storeLoginInformation);
    return reply;
}

void WebApi::storeLoginInformation()
{
    const auto *reply = qobject_cast<const WebApiReply *>(sender());
    if (!reply)
        return;
    const QJsonObject &answer = reply->jsonResponse();
    const QString token = answer.value(QStringLiteral("user_token")).toString();
    if (token.isEmpty()) {
        // Logged in without a token every later request would go out without credentials.
        m_loginError = QStringLiteral("The web service's login answer carries no user token.");
        qWarning() << "[WebApi]" << m_loginError;
        emit loginFailed();
        return;
    }
    m_userEmail = answer.value(QStringLiteral("user_email")).toString();
    m_userToken = token;
    qDebug() << "[WebApi]"
             << "logged in" << m_userEmail;
    m_loggedIn = true;
    emit property_loggedInChanged(true);
    emit loginSuccessful();
}

WebApiReply *WebApi::createLiveStream(const QString &title, bool connectToExistingLiveStream,
                                      const QString &presentationId)
{
    if (!m_loggedIn) {
        qDebug() << "[WebApi]"
                 << "create livestream"
                 << "loading token from LoginSettings";
        m_streamToken = LoginSettings::instance()->liveStreamToken();
    }
    qDebug() << "[WebApi]"
             << "create livestream " << title << (connectToExistingLiveStream ? "true" : "false")
             << presentationId;

    QJsonObject stream;
    stream.insert(QStringLiteral("title"), title);
    stream.insert(QStringLiteral("connect_to_existing_live_stream"), connectToExistingLiveStream);
    if (!presentationId.isEmpty())
        stream.insert(QStringLiteral("presentation_id"), presentationId);
    QJsonObject body;
    body.insert(QStringLiteral("presentation_stream"), stream);

    WebApiReply *reply = post(createRequest(QStringLiteral("/api/v1/presentation_streams")), body);
    // Connected before the caller's own handler, so the credentials are stored first.
    connect(reply, &WebApiReply::finished, this, &WebApi::storeLiveStreamInformation);
    return reply;
}

void WebApi::storeLiveStreamInformation()
{
    const auto *reply = qobject_cast<const WebApiReply *>(sender());
    if (!reply)
        return;
    const LiveStreamAnswer answer(reply->jsonResponse());
    // The live stream refuses such an answer; its token must not resume a stream later either.
    if (!answer.isValid())
        return;
    const QString &token = answer.streamToken();
    const QString &id = answer.uploaderConfig().presentationId;
    const QString &title = answer.presentationTitle();

    LoginSettings *settings = LoginSettings::instance();
    if (!token.isEmpty())
        settings->setLiveStreamToken(token);
    if (!id.isEmpty())
        settings->setLiveStreamPresentationId(id);
    if (!title.isEmpty())
        settings->setLiveStreamPresentationTitle(title);
    settings->setLiveStreamLastRequestAt(QDateTime::currentDateTime());

    m_streamToken = token;
}

WebApiReply *WebApi::sendLiveStreamSlideInfo(qint64 presentationStreamId, int version,
                                             qint64 appStart, int screen, qint64 timestamp,
                                             const QString &bucket, const QString &path)
{
    QJsonObject slide;
    slide.insert(QStringLiteral("presentation_stream_id"), presentationStreamId);
    slide.insert(QStringLiteral("version"), version);
    slide.insert(QStringLiteral("app_start"), appStart);
    slide.insert(QStringLiteral("screen"), screen);
    slide.insert(QStringLiteral("timestamp"), timestamp);
    slide.insert(QStringLiteral("bucket"), bucket);
    slide.insert(QStringLiteral("path"), path);
    QJsonObject body;
    body.insert(QStringLiteral("presentation_stream_slide"), slide);
    return post(createRequest(QStringLiteral("/api/v1/presentation_stream_slides")), body);
}

WebApiReply *WebApi::sendPingData(const QString &presentationId, int presentationStreamVersion,
                                  qint64 presentationStreamStart,
                                  const WebApi::RecordingAppPingData &recordingApp,
                                  const WebApi::VMixPingData &vmix)
{
    QJsonObject stats;
    stats.insert(QStringLiteral("resolutions"), stringArray(recordingApp.resolutions));
    stats.insert(QStringLiteral("captured_count"), recordingApp.capturedCount);
    stats.insert(QStringLiteral("saved_count"), recordingApp.savedCount);
    stats.insert(QStringLiteral("to_upload_count"), recordingApp.toUploadCount);
    stats.insert(QStringLiteral("uploaded_count"), recordingApp.uploadedCount);
    stats.insert(QStringLiteral("upload_failed_count"), recordingApp.uploadFailedCount);
    stats.insert(QStringLiteral("web_success_count"), recordingApp.webSuccessCount);
    stats.insert(QStringLiteral("web_failed_count"), recordingApp.webFailedCount);
    stats.insert(QStringLiteral("web_success_for_last_slide"), recordingApp.webSuccessForLastSlide);
    stats.insert(QStringLiteral("web_error_for_last_slide"), recordingApp.webErrorForLastSlide);

    QJsonObject recording;
    recording.insert(QStringLiteral("started_at"), isoText(recordingApp.startedAt));
    recording.insert(QStringLiteral("error_messages"), stringArray(recordingApp.errorMessages));
    recording.insert(QStringLiteral("slides_source"), recordingApp.slidesSource);
    recording.insert(QStringLiteral("use_native_slide_source_resolution"),
                     recordingApp.useNativeSlideSourceResolution);
    recording.insert(QStringLiteral("slides_source_width"), recordingApp.slidesSourceWidth);
    recording.insert(QStringLiteral("slides_source_height"), recordingApp.slidesSourceHeight);
    recording.insert(QStringLiteral("audio_source"), recordingApp.audioSource);
    recording.insert(QStringLiteral("audio_channels"), recordingApp.audioChannels);
    recording.insert(QStringLiteral("slides_frozen"), recordingApp.slidesFrozen);
    recording.insert(QStringLiteral("slides_stats"), stats);

    QJsonObject app;
    app.insert(QStringLiteral("name"), recordingApp.name);
    app.insert(QStringLiteral("version"), recordingApp.version);
    app.insert(QStringLiteral("recording"), recording);

    QJsonObject vmixObject;
    vmixObject.insert(QStringLiteral("polling_enabled"), vmix.pollingEnabled);
    // The service shows where vMix is polled, never with vMix's credentials.
    vmixObject.insert(
        QStringLiteral("polling_endpoint"),
        EndpointPolicy::withoutUserInfo(QUrl(vmix.pollingEndpoint, QUrl::TolerantMode)));
    vmixObject.insert(QStringLiteral("polling_interval"), vmix.pollingInterval);
    vmixObject.insert(QStringLiteral("polling_last_error"), vmix.pollingLastError);
    vmixObject.insert(QStringLiteral("last_poll_at"), isoText(vmix.lastPollAt));
    vmixObject.insert(QStringLiteral("last_poll_success_at"), isoText(vmix.lastPollSuccessAt));
    vmixObject.insert(QStringLiteral("xml"), vmix.xml);

    QJsonObject ping;
    ping.insert(QStringLiteral("presentation_id"), presentationId);
    ping.insert(QStringLiteral("presentation_stream_version"), presentationStreamVersion);
    ping.insert(QStringLiteral("presentation_stream_start"), presentationStreamStart);
    ping.insert(QStringLiteral("recording_app"), app);
    ping.insert(QStringLiteral("vmix"), vmixObject);

    QJsonObject body;
    body.insert(QStringLiteral("presentation_stream_ping_data"), ping);
    return post(createRequest(QStringLiteral("/api/v1/presentation_stream_ping_data")), body);
}
