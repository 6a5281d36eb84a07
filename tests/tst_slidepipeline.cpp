#include "SlideProcessor.h"
#include "SlideRecorder.h"
#include "SlideSaver.h"
#include "SlideSource.h"
#include "TestEnvironment.h"

#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>

// A real screen source, the change detection and the saver joined as a recording joins them,
// with pictures drawn on the screen by another X client.
class SlidePipelineTest : public QObject
{
    Q_OBJECT

    static bool xsetroot(const QStringList &arguments)
    {
        return QProcess::execute(QStringLiteral("xsetroot"), arguments) == 0;
    }

    static QStringList lines(const QDir &dir)
    {
        QFile file(dir.absoluteFilePath(QStringLiteral("timestamps_ms.txt")));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestEnvironment::hasDisplay())
            QSKIP("needs an X display");
    }

    void threeDrawnPicturesGiveThreeSlides()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QDir dir(tmp.path());

        QVERIFY(xsetroot({"-solid", "#1e3a5f"}));

        const SlidesSourceInfo info(true, SlidesSourceInfo::ScreenInterval, "IntervalScreenCapture",
                                    -1, "Interval screen capture");
        std::unique_ptr<SlideSource> source(SlideSource::create(info));
        QVERIFY(source);
        auto processor = std::make_unique<SlideProcessor>();
        auto saver = std::make_unique<SlideSaver>(dir);

        connect(source.get(), &SlideSource::slidesCaptured, processor.get(),
                &SlideProcessor::addSlides);
        connect(processor.get(), &SlideProcessor::slidesProcessed, saver.get(),
                &SlideSaver::addSlides);
        // Counts captures only; the processor alone owns the batches.
        int captured = 0;
        connect(source.get(), &SlideSource::slidesCaptured, this, [&captured] { ++captured; });
        QSignalSpy errors(saver.get(), &SlideSaver::slideSavingError);

        processor->start();
        saver->start();
        source->start();
        source->restartTimer();

        // Each picture stays on the screen for a few captures.
        const auto holdFor = [&captured](int captures) {
            const int until = captured + captures;
            return QTest::qWaitFor([&] { return captured >= until; }, captures * 1000 + 3000);
        };

        QTRY_COMPARE_WITH_TIMEOUT(saver->savedSlideCount(), 1, 5000);
        QVERIFY(holdFor(2));
        QVERIFY(xsetroot({"-mod", "16", "16", "-fg", "white", "-bg", "#202020"}));
        QTRY_COMPARE_WITH_TIMEOUT(saver->savedSlideCount(), 2, 5000);
        QVERIFY(holdFor(2));
        QVERIFY(xsetroot({"-solid", "#f0c020"}));
        QTRY_COMPARE_WITH_TIMEOUT(saver->savedSlideCount(), 3, 5000);
        // Nothing more while the screen stays still.
        QVERIFY(holdFor(3));
        QCOMPARE(saver->savedSlideCount(), 3);
        QCOMPARE(processor->capturedSlideCount(), 3);

        // Stop along the chain, so that nothing accepted upstream is refused downstream.
        source->requestStop();
        QVERIFY(source->wait(5000));
        QCoreApplication::sendPostedEvents();
        processor->requestStop();
        QVERIFY(processor->wait(10000));
        QCoreApplication::sendPostedEvents();
        saver->requestStop();
        QVERIFY(saver->wait(10000));

        QCOMPARE(errors.count(), 0);
        QCOMPARE(dir.entryList({"*.png"}, QDir::Files, QDir::Name),
                 (QStringList{"0-0001.png", "0-0002.png", "0-0003.png"}));
        const QStringList written = lines(dir);
        QCOMPARE(written.size(), 3);
        qint64 previous = -1;
        for (int i = 0; i < 3; ++i) {
            const QStringList parts = written.at(i).split(QLatin1Char(' '));
            QCOMPARE(parts.size(), 2);
            QCOMPARE(parts.at(0), QString::number(i + 1));
            const qint64 time = parts.at(1).toLongLong();
            QVERIFY(time > previous);
            previous = time;
        }

        const QImage first(dir.absoluteFilePath("0-0001.png"));
        QCOMPARE(first.size(), QGuiApplication::primaryScreen()->size());
        QCOMPARE(first.pixelColor(960, 540), QColor("#1e3a5f"));
        const QImage third(dir.absoluteFilePath("0-0003.png"));
        QCOMPARE(third.pixelColor(10, 10), QColor("#f0c020"));
    }

    // The change detection falls behind: the source stops adding batches once the bound is
    // reached, and takes up capturing again when there is room.
    void fullPipelineSkipsCaptures()
    {
        QTest::failOnWarning(QRegularExpression(".*"));
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QDir dir(tmp.path());
        QVERIFY(xsetroot({"-solid", "#4a1e5f"}));

        const SlidesSourceInfo info(true, SlidesSourceInfo::ScreenInterval, "IntervalScreenCapture",
                                    -1, "Interval screen capture");
        std::unique_ptr<SlideSource> source(SlideSource::create(info));
        QVERIFY(source);
        auto processor = std::make_unique<SlideProcessor>();
        auto saver = std::make_unique<SlideSaver>(dir);
        connect(source.get(), &SlideSource::slidesCaptured, processor.get(),
                &SlideProcessor::addSlides);
        connect(processor.get(), &SlideProcessor::slidesProcessed, saver.get(),
                &SlideSaver::addSlides);
        int captured = 0;
        connect(source.get(), &SlideSource::slidesCaptured, this, [&captured] { ++captured; });
        // The same check as a recording's, counting how often the source asks.
        std::atomic<int> asked{0};
        source->setPipelineFullCheck([&asked, p = processor.get(), s = saver.get()] {
            ++asked;
            return p->pendingBatchCount() + s->pendingBatchCount() >=
                   SlideRecorder::maxPendingBatches;
        });
        QTest::ignoreMessage(QtInfoMsg,
                             "[SlideSource] pipeline full, skipping captures until it has room");
        QTest::ignoreMessage(QtInfoMsg,
                             QRegularExpression("^\\[SlideSource\\] pipeline has room again "
                                                "after \\d+ skipped captures$"));

        // The processor thread is not running yet: its queue fills up to the bound.
        saver->start();
        source->start();
        source->restartTimer();
        QTRY_COMPARE_WITH_TIMEOUT(processor->pendingBatchCount(), SlideRecorder::maxPendingBatches,
                                  10000);
        const int askedWhenFull = asked.load();
        QTRY_VERIFY_WITH_TIMEOUT(asked.load() >= askedWhenFull + 2, 10000);
        QCOMPARE(captured, SlideRecorder::maxPendingBatches);
        QCOMPARE(processor->pendingBatchCount(), SlideRecorder::maxPendingBatches);

        processor->start();
        QTRY_VERIFY_WITH_TIMEOUT(captured >= SlideRecorder::maxPendingBatches + 2, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(saver->savedSlideCount(), 1, 10000);

        source->requestStop();
        QVERIFY(source->wait(5000));
        QCoreApplication::sendPostedEvents();
        processor->requestStop();
        QVERIFY(processor->wait(10000));
        QCoreApplication::sendPostedEvents();
        saver->requestStop();
        QVERIFY(saver->wait(10000));
        QCOMPARE(dir.entryList({"*.png"}, QDir::Files), QStringList{"0-0001.png"});
    }
};

QTEST_MAIN(SlidePipelineTest)
#include "tst_slidepipeline.moc"
