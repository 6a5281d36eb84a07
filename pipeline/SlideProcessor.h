#pragma once

#include "SlideChangeDetector.h"
#include "SlideImage.h"

#include <QList>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <opencv2/core/mat.hpp>

#include <atomic>
#include <memory>
#include <vector>

// Decides which batches show a new slide: each batch is reduced and handed to the
// SlideChangeDetector. New slides leave by slidesProcessed(); the matrices of dropped batches are
// deleted here. A batch that may show a new slide is held until the next one confirms it. The
// object lives in the thread that created it; only run() works on the processor thread.
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
    // Emitted just before slidesProcessed(): why the batch is a new slide, for people.
    void slidesExplained(qint64 time, const QString &reason);

protected:
    void run() override;

private:
    friend class SlideProcessorTest;
    friend class SlidesBenchmark;

    using MatPtr = SlideChangeDetector::MatPtr;

    static constexpr int processingWidth = 640;

    // What was computed from a screen's last picture, for a next one the source marks unchanged.
    // The source says so of its previous picture of that screen, which is the one this processor
    // received before; the pixels' address only guards against a batch from elsewhere.
    struct LastPicture
    {
        const uchar *data = nullptr;
        cv::Size size;
        int type = 0;
        cv::Mat reduced;
    };

    [[nodiscard]] MatPtr preprocessSlide(const cv::Mat *slide) const;
    [[nodiscard]] std::vector<MatPtr> preprocessSlides(const QList<SlideImage> &slides);
    void processSlides(qint64 time, const QList<SlideImage> &slides, bool forceNewSlide);
    // At the end: a held batch whose change was not confirmed yet is still a new slide.
    void finishSlides();
    void keepSlides(qint64 time, const QList<SlideImage> &slides, const QString &reason);

    bool m_stopRequested = false;
    QWaitCondition m_queueCondition;
    QMutex m_queueMutex;
    std::atomic<qint64> m_capturedSlideCount{0};
    QList<SlidesToProcess> m_queue;
    std::atomic<int> m_pendingBatchCount{0};
    SlideChangeDetector m_detector;
    // The batch waiting for confirmation; this object owns its matrices.
    QList<SlideImage> m_heldSlides;
    std::vector<LastPicture> m_lastPictures;
};
