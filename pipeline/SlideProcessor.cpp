#include "SlideProcessor.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QMutexLocker>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>

namespace {

// Like std::min, but a NaN in the second place is passed over.
double minKeepingFirst(double a, double b)
{
    return b < a ? b : a;
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
    previousSlides.clear();
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
        qDebug() << "[SlideProcessor]" << m_queue.size() << "slides in queue";
        locker.unlock();
        processSlides(batch.time, batch.slides, batch.forceNewSlide);
        --m_pendingBatchCount;
    }
    emit stopped();
}

void SlideProcessor::processSlides(qint64 time, const QList<SlideImage> &slides, bool forceNewSlide)
{
    if (!shouldSaveSlides(preprocessSlides(slides), forceNewSlide)) {
        SlideImage::releaseFrames(slides);
        return;
    }
    ++m_capturedSlideCount;
    emit capturedSlideCountChanged();
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
        auto copy = std::make_unique<cv::Mat>(slide->clone());
        if (copy->cols > processingWidth) {
            // Double precision on purpose: the height keeps the aspect ratio, truncated.
            const int height = int(640.0 / (double(copy->cols) / double(copy->rows)));
            cv::resize(*copy, *copy, cv::Size(processingWidth, height), 0, 0, cv::INTER_LINEAR);
            qDebug() << "[SlideProcessor]"
                     << "processing resolution is width" << processingWidth << "and height"
                     << height;
        }
        cv::blur(*copy, *copy, cv::Size(3, 3), cv::Point(-1, -1), cv::BORDER_DEFAULT);
        qDebug() << "[SlideProcessor]"
                 << "slide preprocessed in" << stopwatch.elapsed() << "ms";
        return copy;
    } catch (const cv::Exception &exception) {
        qWarning() << "[SlideProcessor::preprocessSlide] cv::Exception:" << exception.what();
        return nullptr;
    }
}

bool SlideProcessor::shouldSaveSlides(std::vector<MatPtr> preprocessed, bool forceNewSlide)
{
    const size_t n = previousSlides.size();
    bool result = false;
    if (preprocessed.size() != n) {
        result = true;
    } else if (forceNewSlide) {
        result = true;
    } else if (n == 0) {
        result = false;
    } else {
        for (size_t i = 0; i < n; ++i) {
            if (areSlidesDifferent(previousSlides[i].get(), preprocessed[i].get())) {
                result = true;
                break;
            }
        }
    }
    // Always the batch just seen, kept or not, is the reference for the next one.
    previousSlides = std::move(preprocessed);
    return result;
}

bool SlideProcessor::areSlidesDifferent(const cv::Mat *previous, const cv::Mat *current) const
{
    if (!previous || !current)
        return true;
    if (current->cols < 1 || current->rows < 1)
        return false;
    try {
        for (int x = 0; x < current->cols; x += tileSize) {
            const int width = std::min(x + tileSize, current->cols) - x;
            for (int y = 0; y < current->rows; y += tileSize) {
                const int height = std::min(y + tileSize, current->rows) - y;
                const cv::Rect tile(x, y, width, height);
                const cv::Scalar s = getMSSIM((*current)(tile), (*previous)(tile));
                const double m = minKeepingFirst(minKeepingFirst(s[0], s[1]), s[2]);
                if (m < similarityThreshold)
                    return true;
            }
        }
    } catch (const cv::Exception &exception) {
        qWarning() << "[SlideProcessor::areSlidesDifferent] cv::Exception:" << exception.what();
        return true;
    }
    return false;
}

cv::Scalar SlideProcessor::getMSSIM(const cv::Mat &i1, const cv::Mat &i2)
{
    // The constants go to every channel: with zero in the other channels their denominator is
    // zero wherever a tile is flat, and noise on a still picture then reads as a change.
    const cv::Scalar c1 = cv::Scalar::all(C1);
    const cv::Scalar c2 = cv::Scalar::all(C2);
    const cv::Size window(11, 11);
    const double sigma = 1.5;

    cv::Mat I1, I2;
    i1.convertTo(I1, CV_32F, 1, 0);
    i2.convertTo(I2, CV_32F, 1, 0);

    const cv::Mat I2_2 = I2.mul(I2);
    const cv::Mat I1_2 = I1.mul(I1);
    const cv::Mat I1_I2 = I1.mul(I2);

    cv::Mat mu1, mu2;
    cv::GaussianBlur(I1, mu1, window, sigma);
    cv::GaussianBlur(I2, mu2, window, sigma);

    const cv::Mat mu1_2 = mu1.mul(mu1);
    const cv::Mat mu2_2 = mu2.mul(mu2);
    const cv::Mat mu1_mu2 = mu1.mul(mu2);

    cv::Mat sigma1_2, sigma2_2, sigma12;
    cv::GaussianBlur(I1_2, sigma1_2, window, sigma);
    cv::subtract(sigma1_2, mu1_2, sigma1_2);
    cv::GaussianBlur(I2_2, sigma2_2, window, sigma);
    cv::subtract(sigma2_2, mu2_2, sigma2_2);
    cv::GaussianBlur(I1_I2, sigma12, window, sigma);
    cv::subtract(sigma12, mu1_mu2, sigma12);

    // cv::add with a scalar rather than matrix expressions: "mat + scalar" treats a multi-channel
    // scalar differently depending on the shape of the expression.
    cv::Mat t1, t2, t3;
    cv::add(mu1_mu2 * 2, c1, t1);
    cv::add(sigma12 * 2, c2, t2);
    t3 = t1.mul(t2);

    cv::add(mu1_2 + mu2_2, c1, t1);
    cv::add(sigma1_2 + sigma2_2, c2, t2);
    t1 = t1.mul(t2);

    cv::Mat ssimMap;
    cv::divide(t3, t1, ssimMap, 1);
    return cv::mean(ssimMap);
}
