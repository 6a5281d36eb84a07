#include "SlideProcessor.h"
#include "SlideTestFrames.h"
#include "TileSimilarity.h"

#include <QSignalSpy>
#include <QTest>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
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

namespace {

// What a capture card makes of a still picture, drawn anew for every capture: scaled down to
// 1280x720 and back, a gain of up to 2 %, sensor noise and JPEG compression.
cv::Mat captured(const cv::Mat &picture, int seed)
{
    cv::RNG rng(uint64(seed) * 104729 + 3);
    cv::Mat small, scaled, noisy;
    cv::resize(picture, small, cv::Size(1280, 720), 0, 0, cv::INTER_AREA);
    cv::resize(small, scaled, picture.size(), 0, 0, cv::INTER_LINEAR);
    scaled.convertTo(noisy, CV_32FC3, rng.uniform(0.98, 1.02));
    cv::Mat noise(noisy.size(), CV_32FC3);
    rng.fill(noise, cv::RNG::NORMAL, 0, rng.uniform(2.0, 3.0));
    noisy += noise;
    noisy.convertTo(noisy, CV_8UC3);
    std::vector<uchar> jpeg;
    cv::imencode(".jpg", noisy, jpeg, {cv::IMWRITE_JPEG_QUALITY, rng.uniform(70, 86)});
    return cv::imdecode(jpeg, cv::IMREAD_COLOR);
}

// A light text slide with a title, bullet lines and a page counter at the bottom right, drawn
// `contrast` grey levels darker than the background.
cv::Mat textSlide(const std::string &counter, int contrast)
{
    const cv::Scalar background(236, 236, 236);
    cv::Mat slide(1080, 1920, CV_8UC3, background);
    cv::rectangle(slide, cv::Rect(0, 0, 1920, 150), cv::Scalar(120, 60, 20), cv::FILLED);
    cv::putText(slide, "Measured results", cv::Point(80, 110), cv::FONT_HERSHEY_DUPLEX, 2.5,
                cv::Scalar(255, 255, 255), 4, cv::LINE_AA);
    for (int line = 0; line < 5; ++line) {
        cv::putText(slide, "- a bullet point about line " + std::to_string(line + 1),
                    cv::Point(120, 280 + 120 * line), cv::FONT_HERSHEY_DUPLEX, 1.6,
                    cv::Scalar(40, 40, 40), 2, cv::LINE_AA);
    }
    cv::putText(slide, counter, cv::Point(1560, 1030), cv::FONT_HERSHEY_DUPLEX, 1.0,
                background - cv::Scalar::all(contrast), 2, cv::LINE_AA);
    return slide;
}

// The classic 12 x 19 arrow: black outline, white inside.
cv::Mat withPointer(const cv::Mat &picture, int x, int y)
{
    cv::Mat result = picture.clone();
    const std::vector<cv::Point> arrow{{x, y},          {x, y + 16},     {x + 4, y + 12},
                                       {x + 7, y + 18}, {x + 9, y + 17}, {x + 6, y + 11},
                                       {x + 11, y + 11}};
    cv::fillPoly(result, std::vector<std::vector<cv::Point>>{arrow}, cv::Scalar::all(255));
    cv::polylines(result, std::vector<std::vector<cv::Point>>{arrow}, true, cv::Scalar::all(0), 1);
    return result;
}

bool samePicture(const cv::Mat *a, const cv::Mat &b)
{
    return a && a->size() == b.size() && cv::norm(*a, b, cv::NORM_INF) == 0;
}

} // namespace

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

    // A picture the source marks unchanged takes the last one's reduction only when it is that
    // very picture; marked pixels from anywhere else are compared like any others.
    void unchangedMarkNeedsTheSamePixels()
    {
        SlideProcessor processor;
        ProcessedSink sink(&processor, Qt::DirectConnection);
        const QList<SlideImage> first = batch({slidePicture(1920, 1080, 6)});
        processor.processSlides(0, first, false);
        // The same matrix again, as a screen grab hands out a still screen.
        const SlideImage still{new cv::Mat(*first.first().frame), first.first().image, true};
        processor.processSlides(1000, {still}, false);
        QList<SlideImage> other = batch({slidePicture(1920, 1080, 7)});
        other.first().unchanged = true;
        processor.processSlides(2000, other, false);
        process(processor, 3000, {slidePicture(1920, 1080, 7)});
        QCOMPARE(sink.times(), (QList<qint64>{0, 2000}));
        QCOMPARE(liveFrames(), 2);
    }

    void differentSlideIsKept()
    {
        SlideProcessor processor;
        ProcessedSink sink(&processor, Qt::DirectConnection);
        const cv::Mat second = slidePicture(1280, 720, 4);
        process(processor, 0, {slidePicture(1280, 720, 3)});
        process(processor, 1000, {second});
        // Held until the next capture confirms it.
        QCOMPARE(sink.times(), QList<qint64>{0});
        process(processor, 2000, {second});
        QCOMPARE(sink.times(), (QList<qint64>{0, 1000}));
        // The confirming capture is the one passed on; the first one was released.
        QCOMPARE(liveFrames(), 2);
        QVERIFY(samePicture(sink.batches.at(1).slides.first().frame, second));
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

    void everyChangeIsKeptOnce()
    {
        SlideProcessor processor;
        ProcessedSink sink(&processor, Qt::DirectConnection);
        const cv::Mat a = slidePicture(640, 480, 8);
        const cv::Mat b = slidePicture(640, 480, 9);
        process(processor, 0, {a});
        process(processor, 1000, {a});
        process(processor, 2000, {b});
        process(processor, 3000, {b});
        process(processor, 4000, {a});
        process(processor, 5000, {a});
        QCOMPARE(sink.times(), (QList<qint64>{0, 2000, 4000}));
    }

    // A cross-fade caught half-way: one slide, with the time of the blend (the change began
    // there) and the picture of the settled slide.
    void dissolveGivesOneSettledSlide()
    {
        SlideProcessor processor;
        ProcessedSink sink(&processor, Qt::DirectConnection);
        const cv::Mat from = textSlide("3 / 9", 120);
        const cv::Mat to = slidePicture(1920, 1080, 15);
        cv::Mat blend;
        cv::addWeighted(from, 0.4, to, 0.6, 0, blend);
        process(processor, 0, {from});
        process(processor, 1000, {from});
        process(processor, 2000, {blend});
        for (int i = 3; i < 6; ++i)
            process(processor, i * 1000, {to});
        QCOMPARE(sink.times(), (QList<qint64>{0, 2000}));
        QVERIFY(samePicture(sink.batches.at(1).slides.first().frame, to));
    }

    // Every capture of a still slide differs in every pixel; only the next slide is new.
    void captureCardNoiseIsNoChange()
    {
        SlideProcessor processor;
        ProcessedSink sink(&processor, Qt::DirectConnection);
        const cv::Mat first = slidePicture(1920, 1080, 30);
        const cv::Mat second = textSlide("4 / 9", 120);
        for (int i = 0; i < 8; ++i)
            process(processor, i * 1000, {captured(first, i)});
        for (int i = 8; i < 14; ++i)
            process(processor, i * 1000, {captured(second, i)});
        QCOMPARE(sink.times(), (QList<qint64>{0, 8000}));
    }

    // The pointer moves, rests, hides and shows up again over a still slide: no new slide. (A
    // pointer that appears and rests for two captures is indistinguishable from a new glyph.)
    void movingPointerIsNoChange()
    {
        SlideProcessor processor;
        ProcessedSink sink(&processor, Qt::DirectConnection);
        const cv::Mat slide = textSlide("5 / 9", 120);
        const QList<cv::Point> path{{900, 500},  {900, 500},   {1300, 700}, {1310, 705},
                                    {1310, 705}, {1310, 705},  {400, 300},  {-1, -1},
                                    {-1, -1},    {1500, 1000}, {200, 900},  {200, 900},
                                    {200, 900},  {1560, 1010}, {1700, 200}};
        process(processor, 0, {slide});
        for (int i = 0; i < path.size(); ++i) {
            const cv::Point at = path.at(i);
            process(processor, (i + 1) * 1000, {at.x < 0 ? slide : withPointer(slide, at.x, at.y)});
        }
        processor.finishSlides();
        QCOMPARE(sink.times(), QList<qint64>{0});
    }

    // A video inside the slide: one slide when it starts, none while it plays or when it stops,
    // and a change outside it counts at once.
    void movingRegionGivesOneSlide()
    {
        SlideProcessor processor;
        ProcessedSink sink(&processor, Qt::DirectConnection);
        const cv::Mat before = textSlide("6 / 9", 120);
        const cv::Rect video(700, 300, 800, 500);
        const auto frame = [&](int t, const std::string &title) {
            cv::Mat picture = textSlide("7 / 9", 120);
            cv::putText(picture, title, cv::Point(1200, 110), cv::FONT_HERSHEY_DUPLEX, 2.5,
                        cv::Scalar(0, 255, 255), 4, cv::LINE_AA);
            slidePicture(video.width, video.height, 100 + std::min(t, 12)).copyTo(picture(video));
            return picture;
        };
        process(processor, 0, {before});
        process(processor, 1000, {before});
        for (int t = 2; t < 20; ++t)
            process(processor, t * 1000, {frame(t, t < 8 ? "" : "(2)")});
        processor.finishSlides();
        QCOMPARE(sink.times(), (QList<qint64>{0, 2000, 8000}));
    }

    void oneChangedDigitIsAChange_data()
    {
        QTest::addColumn<int>("contrast");
        QTest::addColumn<bool>("capture");
        QTest::newRow("high contrast") << 200 << false;
        QTest::newRow("40 grey levels") << 40 << false;
        QTest::newRow("through a capture card") << 120 << true;
    }

    void oneChangedDigitIsAChange()
    {
        QFETCH(int, contrast);
        QFETCH(bool, capture);
        SlideProcessor processor;
        ProcessedSink sink(&processor, Qt::DirectConnection);
        const cv::Mat first = textSlide("page 12 / 48", contrast);
        const cv::Mat second = textSlide("page 13 / 48", contrast);
        for (int i = 0; i < 10; ++i) {
            const cv::Mat &picture = i < 5 ? first : second;
            process(processor, i * 1000, {capture ? captured(picture, i) : picture});
        }
        QCOMPARE(sink.times(), (QList<qint64>{0, 5000}));
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
        process(processor, 2000, {changed});
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
        process(processor, 3000, {grey});
        QCOMPARE(sink.times(), (QList<qint64>{0, 2000}));
    }

    void similarityOfFlatTilesIsFiniteOnEveryChannel()
    {
        const cv::Mat flat(50, 50, CV_8UC3, cv::Scalar(0, 40, 200));
        cv::Mat noisy = flat.clone();
        noisy.at<cv::Vec3b>(10, 10) = cv::Vec3b(1, 41, 201);
        TileSimilarity similarity;
        for (const cv::Mat &other : {flat, noisy}) {
            const TileSimilarity::Score score = similarity.compare(flat, other);
            QVERIFY(std::isfinite(score.mean) && std::isfinite(score.block));
            QVERIFY(score.mean > 0.99);
            QVERIFY(score.block > 0.99);
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
        process(processor, 3000, {b});
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

    // The reduction has a faster way for whole factors; it must give OpenCV's area averaging to
    // the bit, on noise that puts many sums at a rounding boundary.
    void reductionMatchesAreaAveraging_data()
    {
        QTest::addColumn<QSize>("input");
        QTest::addColumn<int>("channels");
        QTest::newRow("1920x1080") << QSize(1920, 1080) << 3;
        QTest::newRow("1920x1080 four channels") << QSize(1920, 1080) << 4;
        QTest::newRow("3840x2160") << QSize(3840, 2160) << 3;
        QTest::newRow("2560x1440") << QSize(2560, 1440) << 3;
        QTest::newRow("1366x768") << QSize(1366, 768) << 3;
    }

    void reductionMatchesAreaAveraging()
    {
        QFETCH(QSize, input);
        QFETCH(int, channels);
        cv::Mat picture(input.height(), input.width(), CV_8UC(channels));
        cv::RNG random(7);
        random.fill(picture, cv::RNG::UNIFORM, 0, 256);
        SlideProcessor processor;
        const auto result = processor.preprocessSlide(&picture);
        QVERIFY(result);

        cv::Mat expected;
        const int height = int(640.0 / (double(input.width()) / double(input.height())));
        cv::resize(picture, expected, cv::Size(640, height), 0, 0, cv::INTER_AREA);
        cv::blur(expected, expected, cv::Size(3, 3));
        if (channels == 4)
            cv::cvtColor(expected, expected, cv::COLOR_BGRA2BGR);
        QCOMPARE(result->size(), expected.size());
        QCOMPARE(cv::norm(*result, expected, cv::NORM_INF), 0.0);
    }

    void preprocessingDropsAlphaAndSmooths()
    {
        SlideProcessor processor;
        cv::Mat picture(100, 100, CV_8UC4, cv::Scalar(0, 0, 0, 255));
        picture.at<cv::Vec4b>(50, 50) = cv::Vec4b(90, 90, 90, 255);
        const auto result = processor.preprocessSlide(&picture);
        QVERIFY(result);
        QCOMPARE(result->channels(), 3);
        QCOMPARE(int(result->at<cv::Vec3b>(50, 51)[0]), 10);
        QVERIFY(!processor.preprocessSlide(nullptr));
    }

    // The thread: batches queued before the stop are processed, later ones refused and released;
    // a change that waits for its confirmation at the stop is kept.
    void stopDrainsQueueAndRefusesLaterBatches()
    {
        SlideProcessor processor;
        ProcessedSink sink(&processor, Qt::QueuedConnection);
        QSignalSpy stopped(&processor, &SlideProcessor::stopped);
        processor.start();
        processor.addSlides(0, batch({slidePicture(1920, 1080, 20)}), false);
        processor.addSlides(1000, batch({slidePicture(1920, 1080, 20)}), false);
        processor.addSlides(2000, batch({slidePicture(1920, 1080, 22)}), false);
        processor.requestStop();
        processor.requestStop();
        processor.addSlides(3000, batch({slidePicture(1920, 1080, 23)}), true);
        QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 10000);
        QVERIFY(processor.wait(5000));
        QTRY_COMPARE(sink.times(), (QList<qint64>{0, 2000}));
        QCOMPARE(liveFrames(), 2);
        QCOMPARE(processor.capturedSlideCount(), 2);
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
