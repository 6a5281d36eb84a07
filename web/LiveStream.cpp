#include "LiveStream.h"

#include "EndpointPolicy.h"
#include "LiveStreamAnswer.h"
#include "RetryPause.h"
#include "S3TransferManager.h"
#include "WebApi.h"
#include "WebApiReply.h"

#include <QDebug>
#include <QJsonObject>
#include <QMetaEnum>
#include <QTimer>
#include <QVariant>

LiveStream::LiveStream(QObject *presentation, bool connectToExistingLiveStream,
                       const QString &presentationId)
    : m_presentation(presentation), m_connectToExistingLiveStream(connectToExistingLiveStream),
      m_requestedPresentationId(presentationId)
{
    connect(&m_announcer, &SlideAnnouncer::successCountChanged, this,
            &LiveStream::slideInfoWebSuccessCountChanged);
    connect(&m_announcer, &SlideAnnouncer::failCountChanged, this,
            &LiveStream::slideInfoWebFailCountChanged);
    connect(&m_announcer, &SlideAnnouncer::lastSuccessChanged, this,
            &LiveStream::lastSlideInfoWebSuccessChanged);
    connect(&m_announcer, &SlideAnnouncer::lastErrorChanged, this,
            &LiveStream::lastSlideInfoWebErrorChanged);
    connect(&m_announcer, &SlideAnnouncer::lastErrorStringChanged, this,
            &LiveStream::lastSlideInfoWebErrorStringChanged);
    connect(&m_announcer, &SlideAnnouncer::announcementError, this, &LiveStream::slideUploadError);
    connect(&m_announcer, &SlideAnnouncer::finished, this, [this] {
        m_running = false;
        emit stopped();
    });
}

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
    const QString s3Endpoint = S3TransferManager::endpointFromEnvironment();
    if (!s3Endpoint.isEmpty()) {
        const QString refusal =
            EndpointPolicy::refusalForCredentials(QUrl(s3Endpoint), QStringLiteral("storage"));
        if (!refusal.isEmpty()) {
            qWarning() << "[LiveStream]" << refusal;
            // Reported like a refused request: after the caller has connected and returned.
            QTimer::singleShot(0, this, [this, refusal] { failStart(refusal); });
            return;
        }
    }
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
    if (!m_uploader || m_stopRequested)
        return;
    m_stopRequested = true;
    // Uploads, then their announcements, share one budget: the recording's stop must not wait
    // on a network that does not come back.
    m_stopDeadline = QDeadlineTimer(RetryPause::stopBudgetMs, Qt::PreciseTimer);
    m_uploader->requestStopBy(m_stopDeadline);
}

void LiveStream::failStart(const QString &message)
{
    m_running = false;
    // Last: the owner may delete this object when it hears of it.
    emit startFailed(message);
}

void LiveStream::handleLiveStreamCreateError(QNetworkReply::NetworkError error)
{
    const auto *reply = qobject_cast<const WebApiReply *>(sender());
    const QJsonObject answer = reply ? reply->jsonResponse() : QJsonObject();
    qDebug() << QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(error) << answer;
    QString message;
    if (answer.contains(QStringLiteral("message")))
        message = answer.value(QStringLiteral("message")).toString();
    else if (error == QNetworkReply::InternalServerError)
        message = QStringLiteral("Internal server error.");
    else
        message = QStringLiteral("Unknown error.");
    failStart(message);
}

void LiveStream::createLiveStreamUploader()
{
    const auto *reply = qobject_cast<const WebApiReply *>(sender());
    if (!reply)
        return;
    const LiveStreamAnswer answer(reply->jsonResponse());
    if (!answer.isValid()) {
        qWarning() << "[LiveStream]" << answer.problem();
        failStart(answer.problem());
        return;
    }
    const QString &id = answer.uploaderConfig().presentationId;
    if (m_presentation) {
        m_presentation->setProperty("livestreamPresentationId", id);
        m_presentation->setProperty("title", answer.presentationTitle());
    }
    m_uploaderConfig = answer.uploaderConfig();
    m_announcer.setStream(m_uploaderConfig.presentationStreamId,
                          m_uploaderConfig.presentationStreamVersion,
                          m_uploaderConfig.presentationStreamStart);

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
    if (m_uploader) {
        m_uploader->deleteLater();
        m_uploader = nullptr;
    }
    // Announcements of the last uploads get what is left of the stop's budget.
    m_announcer.finish(m_stopRequested ? m_stopDeadline : QDeadlineTimer(0));
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
    m_announcer.announce(screen, time, remoteBucket, remotePath);
}
