#include "SlideProcessor.h"

#include "FrameLogging.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QMutexLocker>

#include <opencv2/core.hpp>
#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include <utility>
#include <vector>

namespace {

// Area averaging by a whole factor, as cv::resize with cv::INTER_AREA computes it (the sum of
// a block's pixels times 1/area in single precision, rounded to nearest), with the rows added
// four pixels at a time. OpenCV's own is vectorised only for a factor of two; for 1920 to 640 it
// was a third of the cost of a changing capture. Only up to a factor of 16, where the sum still
// fits in 16 bits.
void reduceByWholeFactor(const cv::Mat &source, cv::Mat &target, int factor)
{
    CV_Assert(source.depth() == CV_8U && factor >= 1 && factor <= 16 && source.cols % factor == 0 &&
              source.rows % factor == 0);
    const int channels = source.channels();
    const int width = source.cols * channels;
    target.create(source.rows / factor, source.cols / factor, source.type());
    const float scale = 1.0f / float(factor * factor);
    std::vector<ushort> sums(size_t(width), 0);
    for (int y = 0; y < target.rows; ++y) {
        for (int k = 0; k < factor; ++k) {
            const uchar *row = source.ptr<uchar>(y * factor + k);
            ushort *sum = sums.data();
            int x = 0;
#if CV_SIMD128
            for (; x + 16 <= width; x += 16) {
                cv::v_uint16x8 low, high;
                cv::v_expand(cv::v_load(row + x), low, high);
                if (k > 0) {
                    low += cv::v_load(sum + x);
                    high += cv::v_load(sum + x + 8);
                }
                cv::v_store(sum + x, low);
                cv::v_store(sum + x + 8, high);
            }
#endif
            for (; x < width; ++x)
                sum[x] = ushort((k > 0 ? sum[x] : 0) + row[x]);
        }
        uchar *out = target.ptr<uchar>(y);
        const int stride = factor * channels;
        if (channels == 3) {
            for (int x = 0; x < target.cols; ++x) {
                const ushort *block = sums.data() + size_t(x) * size_t(stride);
                int b = 0, g = 0, r = 0;
                for (int k = 0; k < stride; k += 3) {
                    b += block[k];
                    g += block[k + 1];
                    r += block[k + 2];
                }
                out[3 * x] = cv::saturate_cast<uchar>(float(b) * scale);
                out[3 * x + 1] = cv::saturate_cast<uchar>(float(g) * scale);
                out[3 * x + 2] = cv::saturate_cast<uchar>(float(r) * scale);
            }
            continue;
        }
        for (int x = 0; x < target.cols; ++x) {
            const ushort *block = sums.data() + size_t(x) * size_t(stride);
            for (int c = 0; c < channels; ++c) {
                int total = 0;
                for (int k = c; k < stride; k += channels)
                    total += block[k];
                out[x * channels + c] = cv::saturate_cast<uchar>(float(total) * scale);
            }
        }
    }
}

} // namespace

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
    m_lastPictures.clear();
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
SlideProcessor::preprocessSlides(const QList<SlideImage> &slides)
{
    std::vector<MatPtr> result;
    result.reserve(size_t(slides.size()));
    m_lastPictures.resize(size_t(slides.size()));
    for (qsizetype i = 0; i < slides.size(); ++i) {
        const SlideImage &slide = slides.at(i);
        LastPicture &last = m_lastPictures[size_t(i)];
        // A still screen is reduced once, not at every capture.
        if (slide.unchanged && slide.frame && !last.reduced.empty() &&
            slide.frame->data == last.data && slide.frame->size() == last.size &&
            slide.frame->type() == last.type) {
            result.push_back(std::make_unique<const cv::Mat>(last.reduced));
            continue;
        }
        MatPtr reduced = preprocessSlide(slide.frame);
        last = reduced ? LastPicture{slide.frame->data, slide.frame->size(), slide.frame->type(),
                                     *reduced}
                       : LastPicture{};
        result.push_back(std::move(reduced));
    }
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
            const int factor = slide->cols / processingWidth;
            if (slide->depth() == CV_8U && factor >= 3 && factor <= 16 &&
                slide->cols == factor * processingWidth && slide->rows == factor * height)
                reduceByWholeFactor(*slide, reduced, factor);
            else
                cv::resize(*slide, reduced, cv::Size(processingWidth, height), 0, 0,
                           cv::INTER_AREA);
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
