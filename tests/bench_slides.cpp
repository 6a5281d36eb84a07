#include "SlideProcessor.h"
#include "SlideSaver.h"
#include "SlideTestFrames.h"

#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTest>

#include <opencv2/core.hpp>

using namespace SlideTestFrames;

// Figures for the slide pipeline; run by hand on a release build:
//   build-test/tests/bench_slides
class SlidesBenchmark : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }

    void preprocessSlide_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("1920x1080") << 1920 << 1080;
        QTest::newRow("3840x2160") << 3840 << 2160;
    }

    void preprocessSlide()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        const SlideProcessor processor;
        const cv::Mat picture = slidePicture(width, height, 1);
        QBENCHMARK
        {
            const auto result = processor.preprocessSlide(&picture);
            QVERIFY(result);
        }
    }

    void processSlides_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("changing");
        QTest::newRow("1920x1080 still") << 1920 << 1080 << false;
        QTest::newRow("1920x1080 every tile changed") << 1920 << 1080 << true;
        QTest::newRow("3840x2160 still") << 3840 << 2160 << false;
        QTest::newRow("3840x2160 every tile changed") << 3840 << 2160 << true;
    }

    // One batch through preprocessing and detection; includes making the batch's matrix, which
    // the processor then deletes. A still picture repeats the one before; a changing one
    // alternates between two slides whose every tile differs, the worst case.
    void processSlides()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, changing);
        SlideProcessor processor;
        connect(
            &processor, &SlideProcessor::slidesProcessed, this,
            [](qint64, const QList<SlideImage> &slides) { SlideImage::releaseFrames(slides); },
            Qt::DirectConnection);
        const cv::Mat pictures[2] = {slidePicture(width, height, 3),
                                     ~slidePicture(width, height, 3)};
        processor.processSlides(0, batch({pictures[0]}), false);
        qint64 time = 0;
        QBENCHMARK
        {
            time += 1000;
            const cv::Mat &picture = pictures[changing ? (time / 1000) % 2 : 0];
            processor.processSlides(time, {SlideImage{new cv::Mat(picture.clone()), QImage()}},
                                    false);
        }
        processor.finishSlides();
        if (!changing)
            QCOMPARE(processor.capturedSlideCount(), 1);
    }

    void saveSlide()
    {
        QTemporaryDir tmp;
        SlideSaver saver{QDir(tmp.path())};
        const SlideImage slide{nullptr, toImage(slidePicture(1920, 1080, 4))};
        qint64 number = 0;
        QBENCHMARK
        {
            saver.saveSlide(++number, 0, 0, slide);
        }
    }
};

QTEST_GUILESS_MAIN(SlidesBenchmark)
#include "bench_slides.moc"
