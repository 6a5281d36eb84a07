#include "SlideProcessor.h"
#include "SlideTestFrames.h"

#include <QSignalSpy>
#include <QTest>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>

using namespace SlideTestFrames;

// Keeps what the processor passes on; it is the owner of those matrices, as the saver would be.
class ProcessedSink : public QObject
{
public:
    struct Batch
    {
        qint64 time;
        QList<SlideImage> slides;
    };

    explicit ProcessedSink(SlideProcessor *processor, Qt::ConnectionType type)
    {
        connect(
            processor, &SlideProcessor::slidesProcessed, this,
            [this](qint64 time, const QList<SlideImage> &slides) {
                batches.append({time, slides});
            },
            type);
    }
    ~ProcessedSink() override { release(); }

    QList<qint64> times() const
    {
        QList<qint64> result;
        for (const Batch &batch : batches)
            result.append(batch.time);
        return result;
    }
    void release()
    {
        for (const Batch &batch : std::as_const(batches))
            SlideImage::releaseFrames(batch.slides);
        batches.clear();
    }

    QList<Batch> batches;
};

class SlideProcessorTest : public QObject
{
    Q_OBJECT

    // Runs one batch through the detection on the calling thread.
    static void process(SlideProcessor &processor, qint64 time, const QList<cv::Mat> &pictures,
                        bool force = false)
    {
        processor.processSlides(time, batch(pictures), force);
    }

    static cv::Size processingSize(const cv::Size &size)
    {
        SlideProcessor processor;
        const cv::Mat picture(size, CV_8UC3, cv::Scalar(10, 20, 30));
        const auto result = processor.preprocessSlide(&picture);
        return result ? result->size() : cv::Size();
    }

private Q_SLOTS:
    void cleanup() { QCOMPARE(liveFrames(), 0); }

    void firstBatchIsKept()
    {
        SlideProcessor processor;
        ProcessedSink sink(&processor, Qt::DirectConnection);
        process(processor, 0, {slidePicture(1920, 1080, 1)});
        QCOMPARE(sink.times(), QList<qint64>{0});
        QCOMPARE(processor.capturedSlideCount(), 1);
    }

    void identicalBatchIsDroppedAndReleased()
    {
        SlideProcessor processor;
        ProcessedSink sink(&processor, Qt::DirectConnection);
        QSignalSpy countChanged(&processor, &SlideProcessor::capturedSlideCountChanged);
        const cv::Mat picture = slidePicture(1920, 1080, 2);
        process(processor, 0, {picture});
        process(processor, 1000, {picture});
        QCOMPARE(sink.times(), QList<qint64>{0});
        // Only the kept batch's matrix is still alive: the dropped one was deleted.
        QCOMPARE(liveFrames(), 1);
        QCOMPARE(processor.capturedSlideCount(), 1);
        QCOMPARE(countChanged.count(), 1);
    }

    void differentSlideIsKept()
    {
        SlideProcessor processor;
        ProcessedSink sink(&processor, Qt::DirectConnection);
        process(processor, 0, {slidePicture(1280, 720, 3)});
        process(processor, 1000, {slidePicture(1280, 720, 4)});
        QCOMPARE(sink.times(), (QList<qint64>{0, 1000}));
    }

    void differentPictureCountIsKept()
    {
        SlideProcessor processor;
        ProcessedSink sink(&processor, Qt::DirectConnection);
        const cv::Mat picture = slidePicture(800, 600, 5);
        process(processor, 0, {picture});
        process(processor, 1000, {picture, picture});
        process(processor, 2000, {picture});
        QCOMPARE(sink.times(), (QList<qint64>{0, 1000, 2000}));
        QCOMPARE(sink.batches.at(1).slides.size(), 2);
    }

    void forcedBatchIsKeptAndBecomesReference()
    {
        SlideProcessor processor;
        ProcessedSink sink(&processor, Qt::DirectConnection);
        const cv::Mat first = slidePicture(1024, 768, 6);
        const cv::Mat second = slidePicture(1024, 768, 7);
        process(processor, 0, {first});
        process(processor, 1000, {first}, true);
        process(processor, 2000, {second}, true);
        // Compared with the forced batch, not with the batch before it.
        process(processor, 3000, {second});
        QCOMPARE(sink.times(), (QList<qint64>{0, 1000, 2000}));
    }

    void comparedWithImmediatePredecessor()
    {
        // A-B-B: the third batch equals the dropped-or-kept one just before it.
        SlideProcessor processor;
        ProcessedSink sink(&processor, Qt::DirectConnection);
        const cv::Mat a = slidePicture(640, 480, 8);
        const cv::Mat b = slidePicture(640, 480, 9);
        process(processor, 0, {a});
        process(processor, 1000, {a});
        process(processor, 2000, {b});
        process(processor, 3000, {b});
        process(processor, 4000, {a});
        QCOMPARE(sink.times(), (QList<qint64>{0, 2000, 4000}));
    }

    void slowFadeIsNeverDetected()
    {
        // Each step differs too little from the one before; the end differs from the start. Mid
        // tones only: near black, SSIM's luminance term reacts to a change of a single level.
        SlideProcessor processor;
        ProcessedSink sink(&processor, Qt::DirectConnection);
        cv::Mat from, to;
        slidePicture(640, 360, 15).convertTo(from, CV_8UC3, 0.5, 64);
        slidePicture(640, 360, 16).convertTo(to, CV_8UC3, 0.5, 64);
        const int steps = 40;
        for (int i = 0; i <= steps; ++i) {
            cv::Mat blend;
            cv::addWeighted(from, 1.0 - double(i) / steps, to, double(i) / steps, 0, blend);
            process(processor, i * 1000, {blend});
        }
        QCOMPARE(sink.times(), QList<qint64>{0});
        process(processor, 100000, {from});
        QCOMPARE(sink.times(), (QList<qint64>{0, 100000}));
    }

    void singleChangedTileIsDetected_data()
    {
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("y");
        QTest::newRow("first tile") << 0 << 0;
        QTest::newRow("middle") << 300 << 150;
        QTest::newRow("last column and row") << 600 << 350;
    }

    void singleChangedTileIsDetected()
    {
        QFETCH(int, x);
        QFETCH(int, y);
        SlideProcessor processor;
        ProcessedSink sink(&processor, Qt::DirectConnection);
        const cv::Mat picture = slidePicture(640, 360, 10);
        cv::Mat changed = picture.clone();
        const cv::Rect tile(x, y, std::min(50, 640 - x), std::min(50, 360 - y));
        changed(tile).setTo(cv::Scalar(255, 255, 255));
        cv::putText(changed, "x", cv::Point(x + 5, y + 35), cv::FONT_HERSHEY_SIMPLEX, 1.0,
                    cv::Scalar(0, 0, 0), 3);
        process(processor, 0, {picture});
        process(processor, 1000, {changed});
        QCOMPARE(sink.times(), (QList<qint64>{0, 1000}));
    }

    void stillPictureWithCaptureNoiseIsNotNew()
    {
        // Flat areas whose channels hold only noise must not read as a change on any channel.
        SlideProcessor processor;
        ProcessedSink sink(&processor, Qt::DirectConnection);
        const cv::Mat picture = slidePicture(1920, 1080, 11);
        for (int i = 0; i < 4; ++i)
            process(processor, i * 1000, {withNoise(picture, 2.0, i)});
        QCOMPARE(sink.times(), QList<qint64>{0});
    }

    void flatChannelsOnBlack()
    {
        const cv::Mat black(360, 640, CV_8UC3, cv::Scalar::all(0));
        const cv::Mat grey(360, 640, CV_8UC3, cv::Scalar(0, 128, 128));
        SlideProcessor processor;
        ProcessedSink sink(&processor, Qt::DirectConnection);
        process(processor, 0, {black});
        process(processor, 1000, {black});
        process(processor, 2000, {grey});
        QCOMPARE(sink.times(), (QList<qint64>{0, 2000}));
    }

    void similarityOfFlatTilesIsFiniteOnEveryChannel()
    {
        const cv::Mat flat(50, 50, CV_8UC3, cv::Scalar(0, 40, 200));
        cv::Mat noisy = flat.clone();
        noisy.at<cv::Vec3b>(10, 10) = cv::Vec3b(1, 41, 201);
        for (const cv::Mat &other : {flat, noisy}) {
            const cv::Scalar s = SlideProcessor::getMSSIM(flat, other);
            for (int channel = 0; channel < 3; ++channel) {
                QVERIFY2(std::isfinite(s[channel]), qPrintable(QString::number(channel)));
                QVERIFY(s[channel] > 0.99);
            }
        }
    }

    void fourChannelPictures()
    {
        SlideProcessor processor;
        ProcessedSink sink(&processor, Qt::DirectConnection);
        cv::Mat a, b;
        cv::cvtColor(slidePicture(1280, 720, 12), a, cv::COLOR_BGR2BGRA);
        cv::cvtColor(slidePicture(1280, 720, 13), b, cv::COLOR_BGR2BGRA);
        process(processor, 0, {a});
        process(processor, 1000, {a});
        process(processor, 2000, {b});
        QCOMPARE(sink.times(), (QList<qint64>{0, 2000}));
    }

    void emptyPicturesAndEmptyBatches()
    {
        SlideProcessor processor;
        ProcessedSink sink(&processor, Qt::DirectConnection);
        process(processor, 0, {});
        process(processor, 1000, {});
        process(processor, 2000, {}, true);
        process(processor, 3000, {cv::Mat()});
        process(processor, 4000, {cv::Mat()});
        // Empty lists are equal in length to the empty start, so only the forced one passes. An
        // empty picture cannot be smoothed: it becomes a null reference, which differs from
        // anything, so the batch after it passes too.
        QCOMPARE(sink.times(), (QList<qint64>{2000, 3000, 4000}));
    }

    void smallerPreviousPictureCountsAsDifferent()
    {
        SlideProcessor processor;
        ProcessedSink sink(&processor, Qt::DirectConnection);
        process(processor, 0, {slidePicture(320, 240, 14)});
        process(processor, 1000, {slidePicture(640, 480, 14)});
        QCOMPARE(sink.times(), (QList<qint64>{0, 1000}));
    }

    void processingSizes_data()
    {
        QTest::addColumn<QSize>("input");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("1920x1080") << QSize(1920, 1080) << QSize(640, 360);
        QTest::newRow("3840x2160") << QSize(3840, 2160) << QSize(640, 360);
        QTest::newRow("1366x768 truncated") << QSize(1366, 768) << QSize(640, 359);
        QTest::newRow("1024x768") << QSize(1024, 768) << QSize(640, 480);
        QTest::newRow("640x480 unchanged") << QSize(640, 480) << QSize(640, 480);
        QTest::newRow("320x200 unchanged") << QSize(320, 200) << QSize(320, 200);
    }

    void processingSizes()
    {
        QFETCH(QSize, input);
        QFETCH(QSize, expected);
        const cv::Size result = processingSize(cv::Size(input.width(), input.height()));
        QCOMPARE(QSize(result.width, result.height), expected);
    }

    void preprocessingKeepsChannelsAndSmooths()
    {
        SlideProcessor processor;
        cv::Mat picture(100, 100, CV_8UC4, cv::Scalar(0, 0, 0, 255));
        picture.at<cv::Vec4b>(50, 50) = cv::Vec4b(90, 90, 90, 255);
        const auto result = processor.preprocessSlide(&picture);
        QVERIFY(result);
        QCOMPARE(result->channels(), 4);
        QCOMPARE(int(result->at<cv::Vec4b>(50, 51)[0]), 10);
        QVERIFY(!processor.preprocessSlide(nullptr));
    }

    // The thread: batches queued before the stop are processed, later ones refused and released.
    void stopDrainsQueueAndRefusesLaterBatches()
    {
        SlideProcessor processor;
        ProcessedSink sink(&processor, Qt::QueuedConnection);
        QSignalSpy stopped(&processor, &SlideProcessor::stopped);
        processor.start();
        processor.addSlides(0, batch({slidePicture(1920, 1080, 20)}), false);
        processor.addSlides(1000, batch({slidePicture(1920, 1080, 21)}), false);
        processor.addSlides(2000, batch({slidePicture(1920, 1080, 22)}), false);
        processor.requestStop();
        processor.requestStop();
        processor.addSlides(3000, batch({slidePicture(1920, 1080, 23)}), true);
        QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 10000);
        QVERIFY(processor.wait(5000));
        QTRY_COMPARE(sink.times(), (QList<qint64>{0, 1000, 2000}));
        QCOMPARE(liveFrames(), 3);
        QCOMPARE(processor.capturedSlideCount(), 3);
    }

    void stopBeforeStartLeavesNothing()
    {
        SlideProcessor processor;
        processor.requestStop();
        processor.addSlides(0, batch({slidePicture(640, 480, 24)}), false);
        QCOMPARE(liveFrames(), 0);
        QSignalSpy stopped(&processor, &SlideProcessor::stopped);
        processor.start();
        QTRY_COMPARE(stopped.count(), 1);
        QVERIFY(processor.wait(5000));
    }

    void destroyedWithQueuedBatches()
    {
        // Never started: the destructor releases what is still queued.
        auto processor = std::make_unique<SlideProcessor>();
        processor->addSlides(0, batch({slidePicture(640, 480, 25), slidePicture(640, 480, 26)}),
                             false);
        processor->addSlides(1000, batch({slidePicture(640, 480, 27)}), false);
        QCOMPARE(liveFrames(), 3);
        processor.reset();
    }

    void countChangedAtStart()
    {
        SlideProcessor processor;
        QSignalSpy countChanged(&processor, &SlideProcessor::capturedSlideCountChanged);
        processor.start();
        QTRY_COMPARE(countChanged.count(), 1);
        processor.requestStop();
        QVERIFY(processor.wait(5000));
    }
};

QTEST_GUILESS_MAIN(SlideProcessorTest)
#include "tst_slideprocessor.moc"
