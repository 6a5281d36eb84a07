#include "SlideRecorder.h"

#include "LiveStream.h"
#include "Presentation.h"
#include "RecorderSettings.h"
#include "SlideProcessor.h"
#include "SlideSaver.h"
#include "SlideSource.h"

#include <QDebug>
#include <QDir>
#include <QTimer>

SlideRecorder::SlideRecorder(QObject *parent) : QObject(parent) {}

// Components are deleted only after their threads have ended; a recorder destroyed while a
// recording runs (the application quitting) stops them first rather than destroy running threads.
SlideRecorder::~SlideRecorder()
{
    if (m_slideSource) {
        m_slideSource->requestStop();
        m_slideSource->wait();
    }
    if (m_slideProcessor) {
        m_slideProcessor->requestStop();
        m_slideProcessor->wait();
    }
    if (m_slideSaver) {
        m_slideSaver->requestStop();
        m_slideSaver->wait();
    }
}

void SlideRecorder::setState(State newVal)
{
    if (m_state == newVal)
        return;
    m_state = newVal;
    Q_EMIT property_stateChanged(m_state);
}

void SlideRecorder::requestStart(Presentation *presentation)
{
    setState(Starting);
    m_presentation = presentation;

    if (!presentation || !presentation->isLiveStream()) {
        QTimer::singleShot(100, Qt::PreciseTimer, this, &SlideRecorder::start);
        return;
    }

    m_liveStream =
        std::make_unique<LiveStream>(presentation, presentation->connectToExistingLiveStream(),
                                     presentation->livestreamPresentationId());
    LiveStream *liveStream = m_liveStream.get();
    connect(liveStream, &LiveStream::started, this, &SlideRecorder::start);
    connect(liveStream, &LiveStream::stopped, this, &SlideRecorder::liveStreamStopped);
    connect(liveStream, &LiveStream::startFailed, this, &SlideRecorder::onLiveStreamStartFailed);
    connect(liveStream, &LiveStream::slideUploadError, this, &SlideRecorder::recordingError);
    connect(liveStream, &LiveStream::slidesToUploadChanged, this,
            &SlideRecorder::slidesToUploadChanged);
    connect(liveStream, &LiveStream::slidesUploadedChanged, this,
            &SlideRecorder::slidesUploadedChanged);
    connect(liveStream, &LiveStream::slidesUploadFailedChanged, this,
            &SlideRecorder::slidesUploadFailedChanged);
    connect(liveStream, &LiveStream::slideInfoWebSuccessCountChanged, this,
            &SlideRecorder::slideInfoWebSuccessCountChanged);
    connect(liveStream, &LiveStream::slideInfoWebFailCountChanged, this,
            &SlideRecorder::slideInfoWebFailCountChanged);
    connect(liveStream, &LiveStream::lastSlideInfoWebSuccessChanged, this,
            &SlideRecorder::lastSlideInfoWebSuccessChanged);
    connect(liveStream, &LiveStream::lastSlideInfoWebErrorChanged, this,
            &SlideRecorder::lastSlideInfoWebErrorChanged);
    connect(liveStream, &LiveStream::lastSlideInfoWebErrorStringChanged, this,
            &SlideRecorder::lastSlideInfoWebErrorStringChanged);
    liveStream->requestStart();
}

void SlideRecorder::start()
{
    // A stop requested during the start delay (or while the live stream was being created)
    // ends the recording here instead of starting the pipeline.
    if (m_state != Starting) {
        if (m_state == Stopping)
            checkStop();
        return;
    }

    m_slideSourceEnded = false;
    m_slideProcessorEnded = false;
    m_slideSaverEnded = false;
    m_processorStopRequested = false;
    m_saverStopRequested = false;
    m_liveStreamStopRequested = false;
    m_slideSource.reset(SlideSource::create(RecorderSettings::instance()->selectedSlideSource()));
    if (!m_slideSource) {
        if (m_liveStream && m_liveStream->isRunning()) {
            // The live stream's uploader thread is already running: end it before reporting.
            setState(Stopping);
            checkStop();
            return;
        }
        m_liveStream.reset();
        m_presentation = nullptr;
        setState(Stopped);
        Q_EMIT stopped();
        return;
    }

    m_slideProcessor = std::make_unique<SlideProcessor>();

    QDir slideDir = m_presentation ? m_presentation->dir() : QDir();
    if (m_liveStream) {
        const QString name =
            QStringLiteral("slides_%1").arg(m_liveStream->presentationStreamVersion());
        slideDir.mkpath(name);
        slideDir.cd(name);
    }
    m_slideSaver = std::make_unique<SlideSaver>(slideDir);

    SlideSource *source = m_slideSource.get();
    SlideProcessor *processor = m_slideProcessor.get();
    SlideSaver *saver = m_slideSaver.get();

    connect(source, &SlideSource::captureError, this, &SlideRecorder::recordingError);
    connect(source, &SlideSource::firstPictureCaptured, this, &SlideRecorder::firstPictureCaptured);
    connect(source, &SlideSource::deviceLost, this, &SlideRecorder::deviceLost);
    connect(source, &SlideSource::deviceReturned, this, &SlideRecorder::deviceReturned);
    connect(source, &SlideSource::slidesCaptured, processor, &SlideProcessor::addSlides);
    connect(source, &SlideSource::slidesFrozenChanged, this, &SlideRecorder::slidesFrozenChanged);
    connect(source, &SlideSource::slidesResolutionsChanged, this,
            &SlideRecorder::slidesResolutionsChanged);
    connect(source, &SlideSource::stopped, this, &SlideRecorder::slideSourceStopped);
    // The copies for the user interface are taken before the saver gets the batch: the saver
    // releases the matrices on its own thread, and the images of capture devices share them.
    connect(processor, &SlideProcessor::slidesProcessed, this, &SlideRecorder::emitCapturedCopies);
    connect(processor, &SlideProcessor::slidesProcessed, saver, &SlideSaver::addSlides);
    connect(processor, &SlideProcessor::stopped, this, &SlideRecorder::slideProcessorStopped);
    connect(processor, &SlideProcessor::capturedSlideCountChanged, this,
            &SlideRecorder::slidesCapturedChanged);
    connect(saver, &SlideSaver::slideSavingError, this, &SlideRecorder::recordingError);
    connect(saver, &SlideSaver::writeFailed, this, &SlideRecorder::writeFailed);
    connect(saver, &SlideSaver::stopped, this, &SlideRecorder::slideSaverStopped);
    connect(saver, &SlideSaver::savedSlideCountChanged, this, &SlideRecorder::slidesSavedChanged);
    if (m_liveStream) {
        connect(saver, &SlideSaver::slideSaved, m_liveStream.get(),
                [liveStream = m_liveStream.get()](int screen, qint64 time, const QString &,
                                                  const QString &pngFilePath) {
                    liveStream->uploadSlide(screen, time, pngFilePath);
                });
    }
    // A component's stopped() is emitted inside its thread just before the thread ends; the
    // thread's own finished notification is the end that cannot be missed.
    connect(source, &QThread::finished, this, [this] {
        m_slideSourceEnded = true;
        checkStop();
    });
    connect(processor, &QThread::finished, this, [this] {
        m_slideProcessorEnded = true;
        checkStop();
    });
    connect(saver, &QThread::finished, this, [this] {
        m_slideSaverEnded = true;
        checkStop();
    });

    source->setPipelineFullCheck([processor, saver] {
        return processor->pendingBatchCount() + saver->pendingBatchCount() >= maxPendingBatches;
    });

    source->holdPictures();
    processor->start();
    saver->start();
    source->start();

    setState(Started);
    Q_EMIT started();
}

void SlideRecorder::emitCapturedCopies(qint64, const QList<SlideImage> &slides)
{
    QList<QImage> copies;
    copies.reserve(slides.size());
    for (const SlideImage &slide : slides)
        copies.append(slide.image.copy());
    Q_EMIT slidesCapturedSignal(copies);
}

void SlideRecorder::requestStop()
{
    if (m_state == Starting) {
        // The pending start() sees the request and ends the recording.
        setState(Stopping);
        return;
    }
    if (m_state != Started)
        return;
    setState(Stopping);
    // The components stop one after the other along the chain, each once the one before it has
    // ended: a batch still on its way from the source, the detection or the saver would
    // otherwise be refused by a component already stopping, and the last slides would be lost.
    m_slideSource->requestStop();
    checkStop();
}

void SlideRecorder::slideSourceStopped()
{
    checkStop();
}

void SlideRecorder::slideProcessorStopped()
{
    checkStop();
}

void SlideRecorder::slideSaverStopped()
{
    checkStop();
}

void SlideRecorder::liveStreamStopped()
{
    checkStop();
}

void SlideRecorder::checkStop()
{
    if (m_state != Stopping)
        return;
    // A component has ended when its thread's finished notification has arrived: that comes
    // after every batch the component emitted.
    if (m_slideSource && !m_slideSourceEnded)
        return;
    if (m_slideProcessor && !m_processorStopRequested) {
        m_processorStopRequested = true;
        m_slideProcessor->requestStop();
    }
    if (m_slideProcessor && !m_slideProcessorEnded)
        return;
    if (m_slideSaver && !m_saverStopRequested) {
        m_saverStopRequested = true;
        m_slideSaver->requestStop();
    }
    if (m_slideSaver && !m_slideSaverEnded)
        return;
    if (m_liveStream && m_liveStream->isRunning()) {
        if (!m_liveStreamStopRequested) {
            m_liveStreamStopRequested = true;
            m_liveStream->requestStop();
        }
        return;
    }
    stop();
}

void SlideRecorder::stop()
{
    m_slideSource.reset();
    m_slideProcessor.reset();
    m_slideSaver.reset();
    m_liveStream.reset();
    m_presentation = nullptr;
    setState(Stopped);
    Q_EMIT stopped();
}

void SlideRecorder::onLiveStreamStartFailed(QString message)
{
    m_liveStream.reset();
    m_presentation = nullptr;
    setState(Stopped);
    Q_EMIT stopped();
    Q_EMIT liveStreamStartFailed(message);
}

void SlideRecorder::freezeSlides()
{
    if (!m_slideSource)
        return;
    QTimer::singleShot(0, m_slideSource.get(),
                       [source = m_slideSource.get()] { source->freezeSlides(); });
}

void SlideRecorder::captureSlide()
{
    if (!m_slideSource)
        return;
    QTimer::singleShot(0, m_slideSource.get(),
                       [source = m_slideSource.get()] { source->captureSlide(); });
}

void SlideRecorder::restartSlideTimer()
{
    if (m_slideSource)
        m_slideSource->restartTimer();
}

void SlideRecorder::releaseSlides()
{
    if (m_slideSource)
        m_slideSource->releasePictures();
}

bool SlideRecorder::sourceDelivers() const
{
    return m_slideSource && m_slideSource->hasCapturedPicture();
}

bool SlideRecorder::isLiveStream() const
{
    return m_presentation && m_presentation->isLiveStream();
}

QString SlideRecorder::liveStreamPresentationId() const
{
    return isLiveStream() ? m_presentation->livestreamPresentationId() : QString();
}

QString SlideRecorder::liveStreamPresentationTitle() const
{
    return m_presentation ? m_presentation->title() : QString();
}

int SlideRecorder::liveStreamPresentationStreamVersion() const
{
    return m_liveStream ? m_liveStream->presentationStreamVersion() : 0;
}

qint64 SlideRecorder::liveStreamPresentationStreamStart() const
{
    return m_liveStream ? m_liveStream->presentationStreamStart() : 0;
}

bool SlideRecorder::slidesFrozen() const
{
    return m_slideSource && m_slideSource->slidesFrozen();
}

QVariantList SlideRecorder::slidesResolutions() const
{
    return m_slideSource ? m_slideSource->slidesResolutions() : QVariantList();
}

qint64 SlideRecorder::slidesCaptured() const
{
    return m_slideProcessor ? m_slideProcessor->capturedSlideCount() : 0;
}

qint64 SlideRecorder::slidesSaved() const
{
    return m_slideSaver ? m_slideSaver->savedSlideCount() : 0;
}

qint64 SlideRecorder::slidesToUpload() const
{
    return m_liveStream ? m_liveStream->slidesToUpload() : 0;
}

qint64 SlideRecorder::slidesUploaded() const
{
    return m_liveStream ? m_liveStream->slidesUploaded() : 0;
}

qint64 SlideRecorder::slidesUploadFailed() const
{
    return m_liveStream ? m_liveStream->slidesUploadFailed() : 0;
}

qint64 SlideRecorder::slideInfoWebSuccessCount() const
{
    return m_liveStream ? m_liveStream->slideInfoWebSuccessCount() : 0;
}

qint64 SlideRecorder::slideInfoWebFailCount() const
{
    return m_liveStream ? m_liveStream->slideInfoWebFailCount() : 0;
}

bool SlideRecorder::lastSlideInfoWebSuccess() const
{
    return m_liveStream && m_liveStream->lastSlideInfoWebSuccess();
}

QNetworkReply::NetworkError SlideRecorder::lastSlideInfoWebError() const
{
    return m_liveStream ? m_liveStream->lastSlideInfoWebError() : QNetworkReply::NoError;
}

QString SlideRecorder::lastSlideInfoWebErrorString() const
{
    return m_liveStream ? m_liveStream->lastSlideInfoWebErrorString() : QString();
}
