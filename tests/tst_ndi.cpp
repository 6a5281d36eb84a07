#include "ApplicationIdentity.h"
#include "MetaTypes.h"
#include "NdiFakeRuntime.h"
#include "NdiRuntime.h"
#include "RecorderSettings.h"
#include "SlideImage.h"
#include "SlideProcessor.h"
#include "SlideSaver.h"
#include "SlideSourceNDI.h"
#include "SlidesSourceInfo.h"

#include "SourceObserver.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <opencv2/core.hpp>

namespace {

// The entry discovery makes for the fake's first stream.
SlidesSourceInfo fakeStream()
{
    SlidesSourceInfo info(true, SlidesSourceInfo::NDI, "127.0.0.1:5961", 0,
                          QStringLiteral("FAKE-HOST (Slides 1)"));
    info.setData("ndiUrlAddress", QStringLiteral("127.0.0.1:5961"));
    return info;
}

// Frames the fake serves to receivers created from now on.
void script(const char *frames, const char *size = "1920x1080", const char *padding = "0")
{
    qputenv("QUILLORA_FAKE_NDI_FRAMES", frames);
    qputenv("QUILLORA_FAKE_NDI_SIZE", size);
    qputenv("QUILLORA_FAKE_NDI_PADDING", padding);
}

// Stops source, detection and saver as the slide recorder does, each after the one before it has
// delivered everything.
bool stopAlongTheChain(SlideSource &source, SlideProcessor &processor, SlideSaver &saver)
{
    source.requestStop();
    if (!source.wait(5000))
        return false;
    QCoreApplication::processEvents();
    processor.requestStop();
    if (!processor.wait(5000))
        return false;
    QCoreApplication::processEvents();
    saver.requestStop();
    return saver.wait(5000);
}

} // namespace

// NDI discovery and reception against the fake runtime of tests/fake_ndi.
class NdiTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        NdiFakeRuntime::install();
        MetaTypes::registerAll();
        SlideImage::registerMetaTypes();
        // Settings written by this process stay in a temporary directory.
        QVERIFY(m_configHome.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome.path()));
        ApplicationIdentity::apply();
        qunsetenv("QUILLORA_FAKE_NDI_FAIL");
        qunsetenv("QUILLORA_FAKE_NDI_SOURCES");
        QVERIFY2(NdiRuntime::instance().isAvailable(),
                 qPrintable(NdiRuntime::instance().failureReason()));
        QCOMPARE(NdiRuntime::instance().libraryPath(),
                 QDir(NdiFakeRuntime::directory()).filePath("libndi.so.6"));
    }

    // Must run first: the process keeps the first finder that could be created.
    void finderFailureIsRetriedAtEveryPoll()
    {
        qputenv("QUILLORA_FAKE_NDI_FAIL", "find");
        QTest::ignoreMessage(QtWarningMsg,
                             "[SlideSourceInfoNDIFinder] failed to create NDI finder");
        QVERIFY(SlidesSourceInfo::availableSlideSourcesNDI().isEmpty());
        QTest::ignoreMessage(QtWarningMsg,
                             "[SlideSourceInfoNDIFinder] failed to create NDI finder");
        QVERIFY(SlidesSourceInfo::availableSlideSourcesNDI().isEmpty());
        QCOMPARE(NdiFakeRuntime::state().finders, 0);
        qunsetenv("QUILLORA_FAKE_NDI_FAIL");
        QCOMPARE(SlidesSourceInfo::availableSlideSourcesNDI().size(), 2);
        QCOMPARE(NdiFakeRuntime::state().finders, 1);
    }

    void discoveryListsTheRuntimeSources()
    {
        const QList<SlidesSourceInfo> sources = SlidesSourceInfo::availableSlideSourcesNDI();
        QCOMPARE(sources.size(), 2);
        QCOMPARE(sources[0].type(), SlidesSourceInfo::NDI);
        QVERIFY(sources[0].enabled());
        QCOMPARE(sources[0].id(), QByteArray("127.0.0.1:5961"));
        QCOMPARE(sources[0].index(), 0);
        QCOMPARE(sources[0].name(), QStringLiteral("FAKE-HOST (Slides 1)"));
        QCOMPARE(sources[0].data("ndiUrlAddress").toString(), QStringLiteral("127.0.0.1:5961"));
        QCOMPARE(sources[1].id(), QByteArray("127.0.0.1:5962"));
        QCOMPARE(sources[1].index(), 1);
        QCOMPARE(sources[1].name(), QStringLiteral("FAKE-HOST (Pr\u00e4sentation)"));
        QCOMPARE(sources[1].data("ndiUrlAddress").toString(), QStringLiteral("127.0.0.1:5962"));
        // Polling again uses the same finder.
        QCOMPARE(SlidesSourceInfo::availableSlideSourcesNDI(), sources);
        QCOMPARE(NdiFakeRuntime::state().finders, 1);
    }

    void noStreamsNoEntries()
    {
        qputenv("QUILLORA_FAKE_NDI_SOURCES", "0");
        QVERIFY(SlidesSourceInfo::availableSlideSourcesNDI().isEmpty());
        qunsetenv("QUILLORA_FAKE_NDI_SOURCES");
        QCOMPARE(SlidesSourceInfo::availableSlideSourcesNDI().size(), 2);
    }

    // A stream chosen in an earlier run is chosen again once discovery lists it, and the factory
    // builds its source.
    void storedChoiceIsFoundAndBuilt()
    {
        QSettings().setValue("recorderSettings/selectedSlideSource", QByteArray("127.0.0.1:5962"));
        RecorderSettings *settings = RecorderSettings::instance();
        settings->load();
        QTRY_COMPARE_WITH_TIMEOUT(settings->selectedSlideSource().id(),
                                  QByteArray("127.0.0.1:5962"), 5000);
        const SlidesSourceInfo selected = settings->selectedSlideSource();
        QCOMPARE(selected.type(), SlidesSourceInfo::NDI);
        QCOMPARE(selected.name(), QStringLiteral("FAKE-HOST (Pr\u00e4sentation)"));
        QCOMPARE(settings->availableSlideSources().constFirst().id(),
                 QByteArray("IntervalScreenCapture"));
        QCOMPARE(settings->availableSlideSources().constLast(), selected);

        const std::unique_ptr<SlideSource> source(SlideSource::create(selected));
        QVERIFY(qobject_cast<SlideSourceNDI *>(source.get()));
        QCOMPARE(source->slidesSourceInfo().data("ndiUrlAddress").toString(),
                 QStringLiteral("127.0.0.1:5962"));
    }

    void deliversRgbaBatches()
    {
        script("red");
        const QuilloraFakeNdiState before = NdiFakeRuntime::state();
        {
            SlideSourceNDI source(fakeStream());
            SourceObserver observer(&source);
            source.start();
            QTRY_COMPARE_WITH_TIMEOUT(observer.batches.size(), 1, 5000);
            QCOMPARE(observer.ready, 1);
            QCOMPARE(observer.errors, QStringList());

            const SourceObserver::Batch &batch = observer.batches.first();
            QVERIFY(!batch.forced);
            QCOMPARE(batch.slides.size(), 1);
            const cv::Mat &frame = *batch.slides.first().frame;
            const QImage &image = batch.slides.first().image;
            QCOMPARE(frame.type(), CV_8UC4);
            QCOMPARE(frame.cols, 1920);
            QCOMPARE(frame.rows, 1080);
            QCOMPARE(frame.step[0], size_t(7680));
            QCOMPARE(frame.at<cv::Vec4b>(1079, 1919), cv::Vec4b(220, 30, 30, 255));
            QCOMPARE(image.format(), QImage::Format_RGBA8888);
            QCOMPARE(image.size(), QSize(1920, 1080));
            QCOMPARE(image.bytesPerLine(), 7680);
            QCOMPARE(image.constBits(), frame.data);
            QCOMPARE(image.pixelColor(5, 5), QColor(220, 30, 30));
            const QVariantMap resolution = source.slidesResolutions().value(0).toMap();
            QCOMPARE(resolution.value("width").toDouble(), 1920.0);
            QCOMPARE(resolution.value("height").toDouble(), 1080.0);

            // The receiver was made as documented and connected to the stream afterwards; each
            // frame went back to the runtime right after the copy.
            const QuilloraFakeNdiState state = NdiFakeRuntime::state();
            QCOMPARE(state.receiversCreated, before.receiversCreated + 1);
            QCOMPARE(state.lastColorFormat, int(NDIlib_recv_color_format_RGBX_RGBA));
            QCOMPARE(state.lastBandwidth, int(NDIlib_recv_bandwidth_highest));
            QVERIFY(state.lastAllowVideoFields);
            QVERIFY(!state.lastCreateHadSource);
            QCOMPARE(QString::fromUtf8(state.lastConnectedName),
                     QStringLiteral("FAKE-HOST (Slides 1)"));
            QCOMPARE(QByteArray(state.lastConnectedUrl), QByteArray("127.0.0.1:5961"));
            QCOMPARE(state.liveFrames, 0);
            QCOMPARE(state.badFrees, 0);
            QCOMPARE(state.unexpectedCaptureArguments, 0);

            source.requestStop();
            QVERIFY(source.wait(5000));
            QTRY_COMPARE(observer.stopped, 1);
        }
        QCOMPARE(NdiFakeRuntime::state().liveReceivers, 0);
    }

    // Rows may come padded; the picture must not slide sideways from row to row.
    void paddedRowsKeepThePicture()
    {
        script("blue", "640x480", "64");
        SlideSourceNDI source(fakeStream());
        SourceObserver observer(&source);
        source.start();
        QTRY_COMPARE_WITH_TIMEOUT(observer.batches.size(), 1, 5000);
        const cv::Mat &frame = *observer.batches.first().slides.first().frame;
        QCOMPARE(frame.step[0], size_t(2560));
        for (int y : {0, 1, 240, 479})
            QCOMPARE(frame.at<cv::Vec4b>(y, 0), cv::Vec4b(40, 60, 230, 255));
        source.requestStop();
        QVERIFY(source.wait(5000));
    }

    // While the stream has nothing to show, ticks pass silently.
    void nothingAvailableIsSilent()
    {
        script("none*2,green");
        const int callsBefore = NdiFakeRuntime::state().captureCalls;
        SlideSourceNDI source(fakeStream());
        SourceObserver observer(&source);
        source.start();
        QTRY_COMPARE_WITH_TIMEOUT(observer.batches.size(), 1, 8000);
        QCOMPARE(observer.errors, QStringList());
        QVERIFY(NdiFakeRuntime::state().captureCalls - callsBefore >= 3);
        QCOMPARE(observer.batches.first().slides.first().image.pixelColor(0, 0),
                 QColor(30, 200, 60));
        source.requestStop();
        QVERIFY(source.wait(5000));
    }

    // Frames of other types or without a picture are skipped without a message: a stream that
    // never shows a picture is reported by the start, one that stops by its loss.
    void framesWithoutPictureAreSkipped()
    {
        script("error,status,empty,nodata,gray");
        SlideSourceNDI source(fakeStream());
        SourceObserver observer(&source);
        source.start();
        QTRY_COMPARE_WITH_TIMEOUT(observer.batches.size(), 1, 10000);
        QCOMPARE(observer.errors, QStringList());
        QCOMPARE(observer.lost, QStringList());
        QCOMPARE(observer.batches.first().slides.first().image.pixelColor(0, 0),
                 QColor(128, 128, 128));
        QCOMPARE(NdiFakeRuntime::state().liveFrames, 0);
        source.requestStop();
        QVERIFY(source.wait(5000));
    }

    // A sender that stops for five seconds: its loss is reported once, a new receiver is made,
    // and the slides after its return are saved.
    void stoppedSenderIsReportedAndReconnected()
    {
        script("red*3,green");
        qputenv("QUILLORA_FAKE_NDI_OUTAGE", "2500,5000");
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        const int receiversBefore = NdiFakeRuntime::state().receiversCreated;
        {
            SlideProcessor processor;
            SlideSaver saver{QDir(directory.path())};
            SlideSourceNDI source(fakeStream());
            // The processor is the one receiver of the batches; only the reports are watched.
            QSignalSpy lost(&source, &SlideSource::deviceLost);
            QSignalSpy returned(&source, &SlideSource::deviceReturned);
            QSignalSpy errors(&source, &SlideSource::captureError);
            connect(&source, &SlideSource::slidesCaptured, &processor, &SlideProcessor::addSlides);
            connect(&processor, &SlideProcessor::slidesProcessed, &saver, &SlideSaver::addSlides);
            processor.start();
            saver.start();
            source.start();
            QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 8000);
            QCOMPARE(lost.first().first().toString(),
                     QStringLiteral("NDI stream \"FAKE-HOST (Slides 1)\""));
            QTRY_COMPARE_WITH_TIMEOUT(returned.size(), 1, 12000);
            QTRY_COMPARE_WITH_TIMEOUT(saver.savedSlideCount(), qint64(2), 5000);
            QCOMPARE(lost.size(), 1);
            QCOMPARE(errors.size(), 0);
            QVERIFY(NdiFakeRuntime::state().receiversCreated - receiversBefore >= 2);

            QVERIFY(stopAlongTheChain(source, processor, saver));
        }
        qunsetenv("QUILLORA_FAKE_NDI_OUTAGE");
        QCOMPARE(NdiFakeRuntime::state().liveReceivers, 0);
        const QImage second(QDir(directory.path()).filePath("0-0002.png"));
        QCOMPARE(second.pixelColor(10, 10), QColor(30, 200, 60));
    }

    void receiverFailureEndsTheThread()
    {
        qputenv("QUILLORA_FAKE_NDI_FAIL", "recv");
        SlideSourceNDI source(fakeStream());
        SourceObserver observer(&source);
        source.start();
        QVERIFY(source.wait(5000));
        qunsetenv("QUILLORA_FAKE_NDI_FAIL");
        QTRY_COMPARE(observer.finished, 1);
        QCOMPARE(observer.errors,
                 QStringList{"Creating NDI receiver failed. No slides will be captured."});
        QCOMPARE(observer.ready, 0);
        QCOMPARE(observer.stopped, 0);
    }

    // A forced capture must come from the source thread; with no frame available it yields
    // nothing, and with one it is delivered as forced.
    void forcedCaptures()
    {
        script("none,red");
        SlideSourceNDI source(fakeStream());
        SourceObserver observer(&source);
        source.start();
        QTRY_COMPARE(observer.ready, 1);
        QTimer::singleShot(0, &source, [&source] { source.freezeSlides(); });
        QTRY_VERIFY(source.slidesFrozen());

        QTest::ignoreMessage(QtWarningMsg, "[SlideSourceNDI] captureSlide can only be called "
                                           "from the slide source thread");
        source.captureSlide();
        const int callsBefore = NdiFakeRuntime::state().captureCalls;
        QTimer::singleShot(0, &source, [&source] { source.captureSlide(); });
        QTRY_COMPARE(NdiFakeRuntime::state().captureCalls, callsBefore + 1);
        QTimer::singleShot(0, &source, [&source] { source.captureSlide(); });
        QTRY_COMPARE(observer.batches.size(), 1);
        QVERIFY(observer.batches.first().forced);
        QCOMPARE(observer.errors, QStringList());
        source.requestStop();
        QVERIFY(source.wait(5000));
    }

    // Source, change detection and saver wired as the slide recorder wires them: one PNG per
    // change of the stream's picture, and every matrix and frame released at the end.
    void recordingSavesOnePngPerChange()
    {
        script("red*2,green*2,blue", "1280x720");
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        const QuilloraFakeNdiState before = NdiFakeRuntime::state();
        {
            SlideProcessor processor;
            SlideSaver saver{QDir(directory.path())};
            SlideSourceNDI source(fakeStream());
            connect(&source, &SlideSource::slidesCaptured, &processor, &SlideProcessor::addSlides);
            connect(&processor, &SlideProcessor::slidesProcessed, &saver, &SlideSaver::addSlides);
            QStringList errors;
            connect(&source, &SlideSource::captureError, this,
                    [&errors](const QString &error) { errors.append(error); });
            processor.start();
            saver.start();
            source.start();

            QTRY_COMPARE_WITH_TIMEOUT(saver.savedSlideCount(), qint64(3), 15000);
            // The picture stays blue: nothing more is saved.
            QTRY_VERIFY_WITH_TIMEOUT(
                NdiFakeRuntime::state().captureCalls - before.captureCalls >= 7, 5000);
            QCOMPARE(saver.savedSlideCount(), qint64(3));

            QVERIFY(stopAlongTheChain(source, processor, saver));
            QCOMPARE(errors, QStringList());
        }
        const QuilloraFakeNdiState after = NdiFakeRuntime::state();
        QCOMPARE(after.liveFrames, 0);
        QCOMPARE(after.liveReceivers, 0);

        const QDir dir(directory.path());
        QCOMPARE(dir.entryList({"*.png"}, QDir::Files, QDir::Name),
                 QStringList({"0-0001.png", "0-0002.png", "0-0003.png"}));
        const QList<QColor> colours{QColor(220, 30, 30), QColor(30, 200, 60), QColor(40, 60, 230)};
        for (int i = 0; i < colours.size(); ++i) {
            const QImage png(dir.filePath(QStringLiteral("0-000%1.png").arg(i + 1)));
            QCOMPARE(png.size(), QSize(1280, 720));
            QCOMPARE(png.pixelColor(640, 360), colours[i]);
        }
        QFile timestamps(dir.filePath("timestamps_ms.txt"));
        QVERIFY(timestamps.open(QIODevice::ReadOnly | QIODevice::Text));
        const QStringList lines =
            QString::fromUtf8(timestamps.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        qint64 previous = -1;
        for (int i = 0; i < lines.size(); ++i) {
            const QStringList fields = lines[i].split(' ');
            QCOMPARE(fields.size(), 2);
            QCOMPARE(fields[0], QString::number(i + 1));
            QVERIFY(fields[1].toLongLong() > previous);
            previous = fields[1].toLongLong();
        }
    }

private:
    QTemporaryDir m_configHome;
};

QTEST_GUILESS_MAIN(NdiTest)
#include "tst_ndi.moc"
