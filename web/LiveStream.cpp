#include "LiveStream.h"

#include "WebApi.h"
#include "WebApiReply.h"

#include <QDebug>
#include <QJsonObject>
#include <QMetaEnum>
#include <QVariant>

LiveStream::LiveStream(QObject *presentation, bool connectToExistingLiveStream,
                       const QString &presentationId)
    : m_presentation(presentation), m_connectToExistingLiveStream(connectToExistingLiveStream),
      m_requestedPresentationId(presentationId)
{}

LiveStream::~LiveStream()
{
    // Owners delete the live stream after stopped(); an uploader still present here is one
    // whose stop never came, and it must not outlive its signals' receiver.
    delete m_uploader;
}

qint64 LiveStream::slidesToUpload() const
{
    return m_uploader ? m_uploader->slidesToUpload() : 0;
}

qint64 LiveStream::slidesUploaded() const
{
    return m_uploader ? m_uploader->slidesUploaded() : 0;
}

qint64 LiveStream::slidesUploadFailed() const
{
    return m_uploader ? m_uploader->slidesUploadFailed() : 0;
}

void LiveStream::requestStart()
{
    m_running = true;
    qDebug() << "[LiveStream]"
             << "creating live stream";
    const QString title = m_presentation ? m_presentation->property("title").toString() : QString();
    WebApiReply *reply = WebApi::instance()->createLiveStream(title, m_connectToExistingLiveStream,
                                                              m_requestedPresentationId);
    connect(reply, &WebApiReply::error, this, &LiveStream::handleLiveStreamCreateError);
    connect(reply, &WebApiReply::finished, this, &LiveStream::createLiveStreamUploader);
}

void LiveStream::requestStop()
{
    if (m_uploader)
        m_uploader->requestStop();
}

void LiveStream::handleLiveStreamCreateError(QNetworkReply::NetworkError error)
{
    const auto *reply = qobject_cast<const WebApiReply *>(sender());
    const QJsonObject answer = reply ? reply->jsonResponse() : QJsonObject();
    qDebug() << QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(error) << answer;
    m_running = false;

    QString message;
    if (answer.contains(QStringLiteral("message")))
        message = answer.value(QStringLiteral("message")).toString();
    else if (error == QNetworkReply::InternalServerError)
        message = QStringLiteral("Internal server error.");
    else
        message = QStringLiteral("Unknown error.");
    emit startFailed(message);
}

void LiveStream::createLiveStreamUploader()
{
    const auto *reply = qobject_cast<const WebApiReply *>(sender());
    if (!reply)
        return;
    const QJsonObject &answer = reply->jsonResponse();
    const QJsonObject presentation = answer.value(QStringLiteral("presentation")).toObject();
    const QJsonObject stream = answer.value(QStringLiteral("presentation_stream")).toObject();
    const QJsonObject upload = answer.value(QStringLiteral("upload")).toObject();
    const QJsonObject credentials = upload.value(QStringLiteral("credentials")).toObject();

    const QString id = presentation.value(QStringLiteral("id")).toVariant().toString();
    const QString title = presentation.value(QStringLiteral("title")).toVariant().toString();
    if (m_presentation) {
        m_presentation->setProperty("livestreamPresentationId", id);
        m_presentation->setProperty("title", title);
    }

    m_uploaderConfig.presentationId = id;
    m_uploaderConfig.presentationStreamId =
        stream.value(QStringLiteral("id")).toVariant().toLongLong();
    m_uploaderConfig.presentationStreamStart =
        stream.value(QStringLiteral("app_start")).toVariant().toLongLong();
    m_uploaderConfig.presentationStreamVersion =
        stream.value(QStringLiteral("current_slide_version")).toInt();
    m_uploaderConfig.bucket = upload.value(QStringLiteral("bucket")).toString();
    m_uploaderConfig.prefix = upload.value(QStringLiteral("prefix")).toString();
    m_uploaderConfig.accessKeyId = credentials.value(QStringLiteral("access_key_id")).toString();
    m_uploaderConfig.secretAccessKey =
        credentials.value(QStringLiteral("secret_access_key")).toString();
    m_uploaderConfig.sessionToken = credentials.value(QStringLiteral("session_token")).toString();

    qDebug() << "[LiveStream]"
             << "creating live stream uploader for" << id << "with prefix"
             << m_uploaderConfig.prefix;

    m_uploader = new LiveStreamUploader(m_uploaderConfig);
    connect(m_uploader, &LiveStreamUploader::stopped, this,
            &LiveStream::handleLiveStreamUploaderStopped);
    connect(m_uploader, &LiveStreamUploader::slideUploaded, this,
            &LiveStream::sendLiveStreamSlideInfoToWeb);
    connect(m_uploader, &LiveStreamUploader::slideUploadError, this, &LiveStream::slideUploadError);
    connect(m_uploader, &LiveStreamUploader::slidesToUploadChanged, this,
            &LiveStream::slidesToUploadChanged);
    connect(m_uploader, &LiveStreamUploader::slidesUploadedChanged, this,
            &LiveStream::slidesUploadedChanged);
    connect(m_uploader, &LiveStreamUploader::slidesUploadFailedChanged, this,
            &LiveStream::slidesUploadFailedChanged);
    m_uploader->start(QThread::InheritPriority);

    emit slidesToUploadChanged();
    emit slidesUploadedChanged();
    emit slidesUploadFailedChanged();
    emit slideInfoWebSuccessCountChanged();
    emit slideInfoWebFailCountChanged();
    emit lastSlideInfoWebSuccessChanged();
    emit lastSlideInfoWebErrorChanged();
    emit lastSlideInfoWebErrorStringChanged();
    emit started();
}

void LiveStream::handleLiveStreamUploaderStopped()
{
    m_running = false;
    if (m_uploader) {
        m_uploader->deleteLater();
        m_uploader = nullptr;
    }
    emit stopped();
}

void LiveStream::uploadSlide(int screen, qlonglong time, QString filePath)
{
    if (!m_uploader) {
        qWarning() << "[LiveStream]"
                   << "uploadSlide called without uploader";
        return;
    }
    m_uploader->addSlide(screen, time, filePath);
}

void LiveStream::sendLiveStreamSlideInfoToWeb(int screen, qlonglong time, QString remoteBucket,
                                              QString remotePath)
{
    WebApiReply *reply = WebApi::instance()->sendLiveStreamSlideInfo(
        m_uploaderConfig.presentationStreamId, m_uploaderConfig.presentationStreamVersion,
        m_uploaderConfig.presentationStreamStart, screen, time, remoteBucket, remotePath);
    connect(reply, &WebApiReply::finished, this, [this] {
        m_lastSlideInfoWebSuccess = true;
        ++m_slideInfoWebSuccessCount;
        m_lastSlideInfoWebError = 0;
        m_lastSlideInfoWebErrorString.clear();
        emit slideInfoWebSuccessCountChanged();
        emit lastSlideInfoWebSuccessChanged();
        emit lastSlideInfoWebErrorChanged();
        emit lastSlideInfoWebErrorStringChanged();
    });
    connect(reply, &WebApiReply::error, this, [this, reply](QNetworkReply::NetworkError error) {
        ++m_slideInfoWebFailCount;
        m_lastSlideInfoWebSuccess = false;
        m_lastSlideInfoWebError = error;
        m_lastSlideInfoWebErrorString = reply->errorString();
        emit slideInfoWebFailCountChanged();
        emit lastSlideInfoWebSuccessChanged();
        emit lastSlideInfoWebErrorChanged();
        emit lastSlideInfoWebErrorStringChanged();
        emit slideUploadError(QStringLiteral("Sending slide info failed: %1 (%2).")
                                  .arg(int(error))
                                  .arg(m_lastSlideInfoWebErrorString));
    });
}
