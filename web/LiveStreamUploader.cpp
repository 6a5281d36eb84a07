#include "LiveStreamUploader.h"

#include <QElapsedTimer>
#include <QMutexLocker>

namespace {

std::shared_ptr<const LiveStreamUploaderContext>
contextOf(const std::shared_ptr<const S3TransferHandle> &handle)
{
    return std::dynamic_pointer_cast<const LiveStreamUploaderContext>(handle->GetContext());
}

} // namespace

LiveStreamUploaderContext::LiveStreamUploaderContext(int screen, qint64 time,
                                                     const QString &localPath,
                                                     const QString &remoteBucket,
                                                     const QString &remotePath)
    : m_screen(screen), m_time(time), m_localPath(localPath), m_remoteBucket(remoteBucket),
      m_remotePath(remotePath)
{}

QString LiveStreamUploaderContext::localName() const
{
    return m_localPath.split(QLatin1Char('/')).last();
}

QString LiveStreamUploaderContext::contentType() const
{
    const QString path = m_localPath.toLower();
    if (path.endsWith(QLatin1String(".png")))
        return QStringLiteral("image/png");
    if (path.endsWith(QLatin1String(".jpg")) || path.endsWith(QLatin1String(".jpeg")))
        return QStringLiteral("image/jpeg");
    return QStringLiteral("application/octet-stream");
}

QDebug operator<<(QDebug debug, const LiveStreamUploaderContext &context)
{
    const QDebugStateSaver saver(debug);
    debug.nospace() << "LiveStreamUploaderContext{"
                    << "screen=" << context.screen() << ", time=" << context.time()
                    << ", localPath=" << context.localPath()
                    << ", remoteBucket=" << context.remoteBucket()
                    << ", remotePath=" << context.remotePath() << "}";
    return debug;
}

LiveStreamUploader::LiveStreamUploader(const LiveStreamUploaderConfig &config) : m_config(config)
{
    using namespace std::placeholders;
    S3TransferManager::Config transferConfig;
    transferConfig.accessKeyId = m_config.accessKeyId;
    transferConfig.secretAccessKey = m_config.secretAccessKey;
    transferConfig.sessionToken = m_config.sessionToken;
    transferConfig.scheme = QStringLiteral("https");
    transferConfig.region = QStringLiteral("us-east-1");
    transferConfig.requestTimeoutMs = 20000;
    transferConfig.connectTimeoutMs = 10000;
    transferConfig.enableTcpKeepAlive = true;
    transferConfig.useVirtualAddressing = true;
    transferConfig.uploadProgressCallback =
        std::bind(&LiveStreamUploader::awsUploadProgressCallback, this, _1, _2);
    transferConfig.transferStatusUpdatedCallback =
        std::bind(&LiveStreamUploader::awsTransferStatusUpdatedCallback, this, _1, _2);
    transferConfig.transferInitiatedCallback =
        std::bind(&LiveStreamUploader::awsTransferInitiatedCallback, this, _1, _2);
    transferConfig.errorCallback =
        std::bind(&LiveStreamUploader::awsErrorCallback, this, _1, _2, _3);
    m_transferManager = std::make_unique<S3TransferManager>(std::move(transferConfig));

    // The counters count slides: one final outcome per added slide, whatever its retries.
    connect(this, &LiveStreamUploader::slideAdded, this, [this] {
        ++m_slidesToUpload;
        emit slidesToUploadChanged();
    });
    connect(this, &LiveStreamUploader::slideUploadFailed, this, [this] {
        --m_slidesToUpload;
        ++m_slidesUploadFailed;
        emit slidesToUploadChanged();
        emit slidesUploadFailedChanged();
    });
    connect(this, &LiveStreamUploader::slideUploaded, this, [this] {
        --m_slidesToUpload;
        ++m_slidesUploaded;
        emit slidesToUploadChanged();
        emit slidesUploadedChanged();
    });
}

LiveStreamUploader::~LiveStreamUploader()
{
    // Normally the thread has stopped long before. If not, give up what is queued and cancel the
    // running transfer rather than waiting for it: the callbacks emit this object's signals, so
    // no transfer may outlive it.
    {
        const QMutexLocker locker(&m_mutex);
        m_abandoned = true;
        m_stopRequested = true;
        m_queue.clear();
        m_wakeUp.wakeAll();
    }
    m_transferManager->CancelAll();
    wait();
    m_transferManager.reset();
}

void LiveStreamUploader::addSlide(int screen, qlonglong time, QString filePath)
{
    {
        const QMutexLocker locker(&m_mutex);
        if (m_stopRequested)
            return;
        m_queue.append(SlideToUpload{screen, time, filePath, 0, 3});
        m_wakeUp.wakeAll();
    }
    emit slideAdded();
}

void LiveStreamUploader::requestStop()
{
    const QMutexLocker locker(&m_mutex);
    if (m_stopRequested)
        return;
    m_stopRequested = true;
    m_wakeUp.wakeAll();
}

void LiveStreamUploader::run()
{
    forever
    {
        QMutexLocker locker(&m_mutex);
        if (m_abandoned)
            break;
        if (m_queue.isEmpty()) {
            if (m_stopRequested)
                break;
            m_wakeUp.wait(&m_mutex);
            if (m_queue.isEmpty()) {
                if (m_stopRequested)
                    break;
                continue;
            }
        }
        // Newest first: after a burst of slide changes the current slide goes out before the
        // older ones.
        SlideToUpload slide = m_queue.takeLast();
        qDebug() << "[LiveStreamUploader]" << m_queue.size() << "slides in queue";
        locker.unlock();
        uploadSlide(slide);
    }
    emit stopped();
}

void LiveStreamUploader::uploadSlide(LiveStreamUploader::SlideToUpload &slide)
{
    ++slide.tries;
    QElapsedTimer stopwatch;
    stopwatch.start();

    const QString fileName = slide.filePath.split(QLatin1Char('/')).last();
    const QString key = QStringLiteral("%1%2").arg(m_config.prefix, fileName.toLower());
    const QString bucket = m_config.bucket;
    auto context = std::make_shared<const LiveStreamUploaderContext>(slide.screen, slide.time,
                                                                     slide.filePath, bucket, key);

    const std::shared_ptr<S3TransferHandle> handle =
        m_transferManager->UploadFile(slide.filePath, bucket, key, context->contentType(), context);
    qDebug() << "[LiveStreamUploader]"
             << "upload started in" << stopwatch.restart() << "ms (try" << slide.tries << "of"
             << slide.maxTries << ")" << *handle << *context;

    handle->WaitUntilFinished();
    qDebug() << "[LiveStreamUploader]"
             << "upload finished in" << stopwatch.elapsed() << "ms";

    const S3TransferStatus status = handle->GetStatus();
    if (status == S3TransferStatus::Failed && slide.tries < slide.maxTries) {
        qDebug() << "[LiveStreamUploader]"
                 << "will retry uploading slide" << *handle << *context;
        const QMutexLocker locker(&m_mutex);
        if (!m_abandoned)
            m_queue.append(slide);
    } else if (status != S3TransferStatus::Completed) {
        emit slideUploadFailed(slide.screen, slide.time, context->localName());
    }
}

void LiveStreamUploader::awsUploadProgressCallback(const S3TransferManager *,
                                                   const std::shared_ptr<const S3TransferHandle> &)
{}

void LiveStreamUploader::awsTransferStatusUpdatedCallback(
    const S3TransferManager *, const std::shared_ptr<const S3TransferHandle> &handle)
{
    const auto context = contextOf(handle);
    if (!context)
        return;
    switch (handle->GetStatus()) {
    case S3TransferStatus::Canceled:
        qWarning() << "[LiveStreamUploader]"
                   << "upload CANCELED" << *context;
        break;
    case S3TransferStatus::Failed: {
        const S3Error error = handle->GetLastError();
        qWarning() << "[LiveStreamUploader]"
                   << "upload FAILED" << *context << error;
        emit slideUploadError(QStringLiteral("Uploading slide %1 failed (%2: %3).")
                                  .arg(context->localName(), error.exceptionName, error.message));
        break;
    }
    case S3TransferStatus::Completed:
        emit slideUploaded(context->screen(), context->time(), context->remoteBucket(),
                           context->remotePath());
        break;
    case S3TransferStatus::Aborted:
        qWarning() << "[LiveStreamUploader]"
                   << "upload ABORTED" << *context;
        break;
    default:
        break;
    }
}

void LiveStreamUploader::awsTransferInitiatedCallback(
    const S3TransferManager *, const std::shared_ptr<const S3TransferHandle> &handle)
{
    const auto context = contextOf(handle);
    if (!context)
        return;
    qDebug() << "[LiveStreamUploader]"
             << "AWS transfer initiated" << *handle << *context;
}

void LiveStreamUploader::awsErrorCallback(const S3TransferManager *,
                                          const std::shared_ptr<const S3TransferHandle> &handle,
                                          const S3Error &error)
{
    const auto context = contextOf(handle);
    if (!context)
        return;
    qDebug() << "[LiveStreamUploader]"
             << "AWS error" << error << *handle << *context;
}
