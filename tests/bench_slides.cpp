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

    // Identical pictures: every tile is compared, the worst case.
    void areSlidesDifferentIdentical()
    {
        const SlideProcessor processor;
        const cv::Mat picture = slidePicture(640, 360, 2);
        bool different = true;
        QBENCHMARK
        {
            different = processor.areSlidesDifferent(&picture, &picture);
        }
        QVERIFY(!different);
    }

    // One batch through preprocessing and comparison with an identical predecessor; includes
    // making the batch's 1920x1080 matrix, which the processor then deletes.
    void processSlidesStill()
    {
        SlideProcessor processor;
        const cv::Mat picture = slidePicture(1920, 1080, 3);
        processor.processSlides(0, batch({picture}), false);
        QBENCHMARK
        {
            processor.processSlides(1000, {SlideImage{new cv::Mat(picture.clone()), QImage()}},
                                    false);
        }
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
