#pragma once

#include "SlideImage.h"

#include <QList>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <opencv2/core/types.hpp>

#include <atomic>
#include <memory>
#include <vector>

namespace cv {
class Mat;
}

// Decides which batches show a new slide: each batch is compared, tile by tile with SSIM on a
// reduced copy, with the batch immediately before it. New slides leave by slidesProcessed(); the
// matrices of dropped batches are deleted here. The object lives in the thread that created it;
// only run() works on the processor thread.
class SlideProcessor : public QThread
{
    Q_OBJECT

public:
    struct SlidesToProcess
    {
        qint64 time = 0;
        QList<SlideImage> slides;
        bool forceNewSlide = false;
    };

    SlideProcessor();
    ~SlideProcessor() override;

    [[nodiscard]] qint64 capturedSlideCount() const { return m_capturedSlideCount.load(); }
    // Batches accepted and not yet compared; safe from any thread.
    [[nodiscard]] int pendingBatchCount() const { return m_pendingBatchCount.load(); }

public slots:
    // Takes ownership of the batch's matrices, also when it refuses the batch after a stop.
    void addSlides(qint64 time, const QList<SlideImage> &slides, bool forceNewSlide);
    void requestStop();

signals:
    // The receiver owns the matrices of the batch (the saver in a recording).
    void slidesProcessed(qint64 time, const QList<SlideImage> &slides);
    void stopped();
    void capturedSlideCountChanged();

protected:
    void run() override;

private:
    friend class SlideProcessorTest;
    friend class SlidesBenchmark;

    using MatPtr = std::unique_ptr<const cv::Mat>;

    static constexpr int processingWidth = 640;
    static constexpr int tileSize = 50;
    static constexpr double C1 = 6.5025;
    static constexpr double C2 = 58.5225;
    static constexpr double similarityThreshold = 0.95;

    [[nodiscard]] MatPtr preprocessSlide(const cv::Mat *slide) const;
    [[nodiscard]] std::vector<MatPtr> preprocessSlides(const QList<SlideImage> &slides) const;
    [[nodiscard]] bool areSlidesDifferent(const cv::Mat *previous, const cv::Mat *current) const;
    static cv::Scalar getMSSIM(const cv::Mat &i1, const cv::Mat &i2);
    bool shouldSaveSlides(std::vector<MatPtr> preprocessed, bool forceNewSlide);
    void processSlides(qint64 time, const QList<SlideImage> &slides, bool forceNewSlide);

    bool m_stopRequested = false;
    QWaitCondition m_queueCondition;
    QMutex m_queueMutex;
    std::atomic<qint64> m_capturedSlideCount{0};
    QList<SlidesToProcess> m_queue;
    std::atomic<int> m_pendingBatchCount{0};
    // The preprocessed pictures of the batch compared last (an element may be null).
    std::vector<MatPtr> previousSlides;
};
