#include "SlideProcessor.h"

#include "FrameLogging.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QMutexLocker>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <utility>

SlideProcessor::SlideProcessor()
{
    SlideImage::registerMetaTypes();
}

SlideProcessor::~SlideProcessor()
{
    // Owners wait for the stop; this only keeps run() from outliving the object if one does not.
    requestStop();
    wait();
    SlideImage::releaseFrames(m_heldSlides);
    m_heldSlides.clear();
    for (const SlidesToProcess &batch : std::as_const(m_queue))
        SlideImage::releaseFrames(batch.slides);
    m_queue.clear();
}

void SlideProcessor::addSlides(qint64 time, const QList<SlideImage> &slides, bool forceNewSlide)
{
    {
        QMutexLocker locker(&m_queueMutex);
        if (!m_stopRequested) {
            m_queue.append(SlidesToProcess{time, slides, forceNewSlide});
            ++m_pendingBatchCount;
            m_queueCondition.wakeOne();
            return;
        }
    }
    // Refused after the stop: this object is the owner of the matrices now.
    SlideImage::releaseFrames(slides);
}

void SlideProcessor::requestStop()
{
    QMutexLocker locker(&m_queueMutex);
    if (m_stopRequested)
        return;
    m_stopRequested = true;
    m_queueCondition.wakeOne();
}

void SlideProcessor::run()
{
    emit capturedSlideCountChanged();
    forever
    {
        QMutexLocker locker(&m_queueMutex);
        // The stop ends the loop only once the queue is empty: a batch accepted just before the
        // stop request is still processed, even if both arrived while the thread was waiting.
        while (m_queue.isEmpty() && !m_stopRequested)
            m_queueCondition.wait(&m_queueMutex);
        if (m_queue.isEmpty())
            break;
        const SlidesToProcess batch = m_queue.takeFirst();
        qCDebug(lcFrames) << "[SlideProcessor]" << m_queue.size() << "slides in queue";
        locker.unlock();
        processSlides(batch.time, batch.slides, batch.forceNewSlide);
        --m_pendingBatchCount;
    }
    finishSlides();
    emit stopped();
}

void SlideProcessor::processSlides(qint64 time, const QList<SlideImage> &slides, bool forceNewSlide)
{
    const SlideChangeDetector::Decision decision =
        m_detector.process(time, preprocessSlides(slides), forceNewSlide);
    // Whatever the decision, a held batch is not needed any more: a confirmed change keeps the
    // newer, settled picture, a held one is replaced by the newer one, a dropped one was undone.
    SlideImage::releaseFrames(std::exchange(m_heldSlides, {}));
    switch (decision.action) {
    case SlideChangeDetector::Decision::Drop:
        SlideImage::releaseFrames(slides);
        break;
    case SlideChangeDetector::Decision::Hold:
        m_heldSlides = slides;
        break;
    case SlideChangeDetector::Decision::Keep:
        keepSlides(decision.time, slides, decision.reason);
        break;
    }
}

void SlideProcessor::finishSlides()
{
    const SlideChangeDetector::Decision decision = m_detector.finish();
    const QList<SlideImage> held = std::exchange(m_heldSlides, {});
    if (decision.action == SlideChangeDetector::Decision::Keep && !held.isEmpty())
        keepSlides(decision.time, held, decision.reason);
    else
        SlideImage::releaseFrames(held);
}

void SlideProcessor::keepSlides(qint64 time, const QList<SlideImage> &slides, const QString &reason)
{
    ++m_capturedSlideCount;
    emit capturedSlideCountChanged();
    qDebug() << "[SlideProcessor]"
             << "new slide at" << time << "ms:" << qPrintable(reason);
    emit slidesExplained(time, reason);
    QElapsedTimer stopwatch;
    stopwatch.start();
    emit slidesProcessed(time, slides);
    qDebug() << "[SlideProcessor]"
             << "slides processed in" << stopwatch.elapsed() << "ms";
}

std::vector<SlideProcessor::MatPtr>
SlideProcessor::preprocessSlides(const QList<SlideImage> &slides) const
{
    std::vector<MatPtr> result;
    result.reserve(size_t(slides.size()));
    for (const SlideImage &slide : slides)
        result.push_back(preprocessSlide(slide.frame));
    return result;
}

SlideProcessor::MatPtr SlideProcessor::preprocessSlide(const cv::Mat *slide) const
{
    if (!slide)
        return nullptr;
    QElapsedTimer stopwatch;
    stopwatch.start();
    try {
        cv::Mat reduced;
        if (slide->cols > processingWidth) {
            // Double precision on purpose: the height keeps the aspect ratio, truncated.
            const int height = int(640.0 / (double(slide->cols) / double(slide->rows)));
            // Area averaging, not sampling: it keeps thin strokes (a changed digit) and divides
            // the capture noise by the scale factor.
            cv::resize(*slide, reduced, cv::Size(processingWidth, height), 0, 0, cv::INTER_AREA);
            qCDebug(lcFrames) << "[SlideProcessor]"
                              << "processing resolution is width" << processingWidth << "and height"
                              << height;
        } else {
            reduced = *slide;
        }
        auto copy = std::make_unique<cv::Mat>();
        cv::blur(reduced, *copy, cv::Size(3, 3), cv::Point(-1, -1), cv::BORDER_DEFAULT);
        // Only the first three channels are compared; a fourth (alpha) would only cost time.
        if (copy->channels() == 4)
            cv::cvtColor(*copy, *copy, cv::COLOR_BGRA2BGR);
        qCDebug(lcFrames) << "[SlideProcessor]"
                          << "slide preprocessed in" << stopwatch.elapsed() << "ms";
        return copy;
    } catch (const cv::Exception &exception) {
        qWarning() << "[SlideProcessor::preprocessSlide] cv::Exception:" << exception.what();
        return nullptr;
    }
}
