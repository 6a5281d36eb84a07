#include "LiveStreamUploader.h"

#include "RetryPause.h"

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
                                                     const QString &remotePath, bool reportFailure)
    : m_screen(screen), m_time(time), m_localPath(localPath), m_remoteBucket(remoteBucket),
      m_remotePath(remotePath), m_reportFailure(reportFailure)
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
    // A server that takes the connection and then stalls or trickles holds one slide, and with
    // it every later one: below this rate for requestTimeoutMs the transfer fails and is retried.
    transferConfig.lowSpeedLimitBytesPerSecond = 1024;
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
        m_queue.append(SlideToUpload{screen, time, filePath, 0, 3, m_nextOrder++, {}});
        m_wakeUp.wakeAll();
    }
    emit slideAdded();
}

void LiveStreamUploader::requestStop()
{
    requestStopBy(QDeadlineTimer(RetryPause::stopBudgetMs, Qt::PreciseTimer));
}

void LiveStreamUploader::requestStopBy(const QDeadlineTimer &deadline)
{
    const QMutexLocker locker(&m_mutex);
    if (m_stopRequested)
        return;
    m_stopRequested = true;
    m_stopDeadline = deadline;
    m_wakeUp.wakeAll();
}

bool LiveStreamUploader::stopDeadlinePassed() const
{
    return m_stopRequested && m_stopDeadline.hasExpired();
}

void LiveStreamUploader::enqueueByOrder(const SlideToUpload &slide)
{
    // The queue is served from its end: a slide whose pause ended goes behind the newer ones.
    qsizetype index = 0;
    while (index < m_queue.size() && m_queue.at(index).order < slide.order)
        ++index;
    m_queue.insert(index, slide);
}

void LiveStreamUploader::promoteDueSlides()
{
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        if (it->notBefore.hasExpired()) {
            enqueueByOrder(*it);
            it = m_waiting.erase(it);
        } else {
            ++it;
        }
    }
}

void LiveStreamUploader::run()
{
    forever
    {
        QMutexLocker locker(&m_mutex);
        if (m_abandoned || stopDeadlinePassed())
            break;
        promoteDueSlides();
        if (m_queue.isEmpty()) {
            if (m_waiting.isEmpty()) {
                if (m_stopRequested)
                    break;
                m_wakeUp.wait(&m_mutex);
                continue;
            }
            QDeadlineTimer wake = m_waiting.first().notBefore;
            for (const SlideToUpload &waiting : std::as_const(m_waiting))
                wake = qMin(wake, waiting.notBefore);
            if (m_stopRequested)
                wake = qMin(wake, m_stopDeadline);
            m_wakeUp.wait(&m_mutex, wake);
            continue;
        }
        // Newest first: after a burst of slide changes the current slide goes out before the
        // older ones.
        SlideToUpload slide = m_queue.takeLast();
        qDebug() << "[LiveStreamUploader]" << m_queue.size() << "slides in queue"
                 << m_waiting.size() << "waiting for a retry";
        locker.unlock();
        uploadSlide(slide);
    }
    giveUpRemaining();
    emit stopped();
}

void LiveStreamUploader::giveUpRemaining()
{
    QList<SlideToUpload> remaining;
    {
        const QMutexLocker locker(&m_mutex);
        remaining = std::exchange(m_queue, {});
        remaining += std::exchange(m_waiting, {});
        // Destroyed before its stop: nobody is left to hear of the slides.
        if (m_abandoned)
            return;
    }
    if (remaining.isEmpty())
        return;
    for (const SlideToUpload &slide : std::as_const(remaining))
        emit slideUploadFailed(slide.screen, slide.time,
                               slide.filePath.split(QLatin1Char('/')).last());
    const QString message = QStringLiteral("%1 slides were not uploaded.").arg(remaining.size());
    qWarning() << "[LiveStreamUploader]" << message;
    emit slideUploadError(message);
}

void LiveStreamUploader::uploadSlide(LiveStreamUploader::SlideToUpload &slide)
{
    ++slide.tries;
    QElapsedTimer stopwatch;
    stopwatch.start();

    const QString fileName = slide.filePath.split(QLatin1Char('/')).last();
    const QString key = QStringLiteral("%1%2").arg(m_config.prefix, fileName.toLower());
    const QString bucket = m_config.bucket;
    auto context = std::make_shared<const LiveStreamUploaderContext>(
        slide.screen, slide.time, slide.filePath, bucket, key, slide.tries <= slide.maxTries);

    const std::shared_ptr<S3TransferHandle> handle =
        m_transferManager->UploadFile(slide.filePath, bucket, key, context->contentType(), context);
    qDebug() << "[LiveStreamUploader]"
             << "upload started in" << stopwatch.restart() << "ms (try" << slide.tries << "of"
             << slide.maxTries << ")" << *handle << *context;

    // The transfer ends by itself (time-outs included); the stop's deadline ends it sooner.
    while (!handle->WaitUntilFinished(std::chrono::milliseconds(100))) {
        const QMutexLocker locker(&m_mutex);
        if (m_abandoned || stopDeadlinePassed())
            handle->Cancel();
    }
    qDebug() << "[LiveStreamUploader]"
             << "upload finished in" << stopwatch.elapsed() << "ms";

    const S3TransferStatus status = handle->GetStatus();
    if (status == S3TransferStatus::Completed) {
        // Storage answers again: the slides waiting for their pause to end go now.
        const QMutexLocker locker(&m_mutex);
        for (SlideToUpload &waiting : m_waiting)
            waiting.notBefore = QDeadlineTimer(0);
        return;
    }
    const bool unreadable = status == S3TransferStatus::Failed &&
                            handle->GetLastError().exceptionName == QLatin1String("FileError");
    if (unreadable && slide.tries >= slide.maxTries) {
        // No pause makes a missing or unreadable file readable.
        emit slideUploadFailed(slide.screen, slide.time, context->localName());
        return;
    }

    const QMutexLocker locker(&m_mutex);
    if (m_abandoned)
        return;
    if (status == S3TransferStatus::Canceled || slide.tries < slide.maxTries) {
        // A canceled transfer stays queued: the stop that canceled it gives it up.
        qDebug() << "[LiveStreamUploader]"
                 << "will retry uploading slide" << *handle << *context;
        m_queue.append(slide);
        return;
    }
    const qint64 pause = RetryPause::afterFailures(slide.tries - slide.maxTries + 1);
    qWarning() << "[LiveStreamUploader]"
               << "will retry uploading" << context->localName() << "in" << pause << "ms";
    slide.notBefore = QDeadlineTimer(pause, Qt::PreciseTimer);
    m_waiting.append(slide);
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
        if (!context->reportFailure())
            break;
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
