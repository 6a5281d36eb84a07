#include "ScreenGrabberQScreen.h"
#include "ScreenGrabberX11.h"
#include "SlideCaptureSink.h"
#include "SlideSource.h"
#include "SlideSourceScreenInterval.h"
#include "TestEnvironment.h"

#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <opencv2/core.hpp>

#include <memory>
#include <xcb/xcb.h>

namespace {

bool setRootColour(const QString &colour)
{
    return QProcess::execute(QStringLiteral("xsetroot"), {QStringLiteral("-solid"), colour}) == 0;
}

// Stops the source's thread and waits for it, whatever the test's outcome.
struct SourceStopper
{
    SlideSource *source;
    ~SourceStopper()
    {
        source->requestStop();
        source->wait(5000);
    }
};

// A window of another X client: its own connection to the display, an unmanaged window filled
// with one colour by the server.
class ForeignWindow
{
public:
    ForeignWindow(const QRect &rect, QRgb colour)
    {
        int screenNumber = 0;
        m_connection = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(m_connection))
            return;
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
        for (int i = 0; i < screenNumber; ++i)
            xcb_screen_next(&screens);
        m_window = xcb_generate_id(m_connection);
        const uint32_t values[] = {colour & 0xffffff, 1};
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, screens.data->root,
                          int16_t(rect.x()), int16_t(rect.y()), uint16_t(rect.width()),
                          uint16_t(rect.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT,
                          values);
        xcb_map_window(m_connection, m_window);
        // A round trip: the server has mapped and painted the window when the answer comes.
        free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
        m_shown = true;
    }
    ~ForeignWindow()
    {
        if (m_shown) {
            xcb_destroy_window(m_connection, m_window);
            free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection),
                                           nullptr));
        }
        xcb_disconnect(m_connection);
    }
    ForeignWindow(const ForeignWindow &) = delete;
    ForeignWindow &operator=(const ForeignWindow &) = delete;

    [[nodiscard]] bool isShown() const { return m_shown; }

    // Draws into the window, as a program paints its content.
    void fill(const QRect &rect, QRgb colour)
    {
        const xcb_gcontext_t gc = xcb_generate_id(m_connection);
        const uint32_t foreground = colour & 0xffffff;
        xcb_create_gc(m_connection, gc, m_window, XCB_GC_FOREGROUND, &foreground);
        const xcb_rectangle_t area{int16_t(rect.x()), int16_t(rect.y()), uint16_t(rect.width()),
                                   uint16_t(rect.height())};
        xcb_poly_fill_rectangle(m_connection, m_window, gc, 1, &area);
        xcb_free_gc(m_connection, gc);
        free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    }

private:
    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_window = 0;
    bool m_shown = false;
};

QColor frameColour(const cv::Mat &frame, int x, int y)
{
    const uchar *pixel = frame.ptr(y) + x * frame.elemSize();
    return QColor(pixel[2], pixel[1], pixel[0]);
}

// Which way the screens are grabbed: the shared-memory path this display offers, or the generic
// grab it falls back to.
void addGrabberRows()
{
    QTest::addColumn<QByteArray>("grabber");
    QTest::newRow("shared memory") << QByteArray();
    QTest::newRow("qscreen fallback") << QByteArray("qscreen");
}

void selectGrabber(const QByteArray &grabber)
{
    if (grabber.isEmpty())
        qunsetenv("QUILLORA_SCREEN_GRABBER");
    else
        qputenv("QUILLORA_SCREEN_GRABBER", grabber);
}

const SlidesSourceInfo screenInfo(true, SlidesSourceInfo::ScreenInterval, "IntervalScreenCapture",
                                  -1, QStringLiteral("Interval screen capture"));

} // namespace

class ScreenCaptureTest : public QObject
{
    Q_OBJECT

    void twoScreensChild()
    {
        if (qEnvironmentVariable("QUILLORA_TWO_SCREEN_CHILD") == QLatin1String("qscreen"))
            selectGrabber("qscreen");
        const QList<QScreen *> screens = QGuiApplication::screens();
        QCOMPARE(screens.size(), 2);
        QVERIFY(setRootColour(QStringLiteral("#3050a0")));
        std::unique_ptr<SlideSource> source(SlideSource::create(screenInfo));
        SlideCaptureSink sink(source.get());
        SourceStopper stopper{source.get()};
        source->start();
        QTRY_COMPARE_WITH_TIMEOUT(sink.batches.size(), 1, 3000);
        const SlideCaptureSink::Batch batch = sink.batches.first();
        QCOMPARE(batch.frameSizes, (QList<QSize>{screens.at(0)->size(), screens.at(1)->size()}));
        QCOMPARE(batch.imageSizes, batch.frameSizes);
        QCOMPARE(batch.centre, QColor("#3050a0"));
        const QList<QVariant> resolutions = source->slidesResolutions();
        QCOMPARE(resolutions.size(), 2);
        for (int i = 0; i < 2; ++i) {
            const QVariantMap map = resolutions.at(i).toMap();
            QCOMPARE(map.value("width").toDouble(), double(screens.at(i)->size().width()));
            QCOMPARE(map.value("height").toDouble(), double(screens.at(i)->size().height()));
        }
        QVERIFY(batch.frameSizes.contains(QSize(1920, 1080)));
        QVERIFY(batch.frameSizes.contains(QSize(1280, 1024)));
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestEnvironment::hasDisplay())
            QSKIP("needs an X display");
        SlideImage::registerMetaTypes();
    }

    void init()
    {
        // A failed shared-memory grab falls back quietly but for its warning: any warning fails.
        QTest::failOnWarning(QRegularExpression(".*"));
        selectGrabber(QByteArray());
    }

    void factory()
    {
        QTest::ignoreMessage(QtWarningMsg, "[SlideSource] unhandled slide source type 0");
        QVERIFY(!SlideSource::create(SlidesSourceInfo()));
        QTest::ignoreMessage(QtWarningMsg, "[SlideSource] unhandled slide source type 1");
        QVERIFY(!SlideSource::create(
            SlidesSourceInfo(true, SlidesSourceInfo::SlideSourceType(1), "x", 0, "X")));

        std::unique_ptr<SlideSource> source(SlideSource::create(screenInfo));
        QVERIFY(qobject_cast<SlideSourceScreenInterval *>(source.get()));
        QCOMPARE(source->slidesSourceInfo().id(), QByteArray("IntervalScreenCapture"));
        QVERIFY(!source->slidesFrozen());
        QVERIFY(source->slidesResolutions().isEmpty());
        // The source lives in its own thread.
        QCOMPARE(source->thread(), static_cast<QThread *>(source.get()));
    }

    void capturesWhatIsOnScreen_data() { addGrabberRows(); }
    void capturesWhatIsOnScreen()
    {
        QFETCH(QByteArray, grabber);
        selectGrabber(grabber);
        QVERIFY(setRootColour(QStringLiteral("#c81e3c")));
        std::unique_ptr<SlideSource> source(SlideSource::create(screenInfo));
        SlideCaptureSink sink(source.get());
        QSignalSpy ready(source.get(), &SlideSource::ready);
        QSignalSpy stopped(source.get(), &SlideSource::stopped);
        {
            SourceStopper stopper{source.get()};
            source->start();
            QTRY_COMPARE(ready.count(), 1);
            QTRY_COMPARE_WITH_TIMEOUT(sink.batches.size(), 1, 3000);

            const int screens = int(QGuiApplication::screens().size());
            const SlideCaptureSink::Batch first = sink.batches.first();
            QCOMPARE(first.frameSizes.size(), screens);
            QVERIFY(!first.forceNewSlide);
            const QSize screenSize = QGuiApplication::primaryScreen()->size();
            QCOMPARE(first.frameSizes.first(), screenSize);
            QCOMPARE(first.imageSizes.first(), screenSize);
            QCOMPARE(first.frameChannels.first(), 3);
            QCOMPARE(first.centre, QColor("#c81e3c"));
            // Time is taken from the slide clock started just before ready().
            QVERIFY2(first.time >= 900 && first.time < 5000,
                     qPrintable(QString::number(first.time)));

            const QList<QVariant> resolutions = source->slidesResolutions();
            QCOMPARE(resolutions.size(), screens);
            const QVariantMap map = resolutions.first().toMap();
            QCOMPARE(map.value("width").toDouble(), double(screenSize.width()));
            QCOMPARE(map.value("height").toDouble(), double(screenSize.height()));
            QCOMPARE(map.value("width").typeId(), QMetaType::Double);

            QVERIFY(setRootColour(QStringLiteral("#14b450")));
            QTRY_VERIFY_WITH_TIMEOUT(sink.batches.last().centre == QColor("#14b450"), 3000);
        }
        QCOMPARE(stopped.count(), 1);
        QCoreApplication::sendPostedEvents();
        // Resolutions are announced with every batch, also when they stay the same (plus once at
        // the start).
        QCOMPARE(sink.resolutionsChanged, int(sink.batches.size()) + 1);
        QVERIFY(source->isFinished());
    }

    void freezeAndForcedCapture()
    {
        std::unique_ptr<SlideSource> source(SlideSource::create(screenInfo));
        SlideCaptureSink sink(source.get());
        QSignalSpy ready(source.get(), &SlideSource::ready);
        QSignalSpy frozenChanged(source.get(), &SlideSource::slidesFrozenChanged);
        SourceStopper stopper{source.get()};
        source->start();
        QTRY_COMPARE(ready.count(), 1);
        QCOMPARE(frozenChanged.count(), 1); // the initial state at start

        QTimer::singleShot(0, source.get(), &SlideSource::freezeSlides);
        QTRY_COMPARE(frozenChanged.count(), 2);
        QVERIFY(source->slidesFrozen());
        const qsizetype before = sink.batches.size();
        QTest::qWait(2500); // nothing is expected, so there is no signal to wait for
        QCOMPARE(sink.batches.size(), before);

        // A forced capture comes at once, even while frozen.
        QTimer::singleShot(0, source.get(), &SlideSource::captureSlide);
        QTRY_COMPARE_WITH_TIMEOUT(sink.batches.size(), before + 1, 1000);
        QVERIFY(sink.batches.last().forceNewSlide);

        // Unfrozen again: the next periodic capture comes a full interval after the forced one.
        // Posted together, so that no periodic tick can come between them.
        QTimer::singleShot(0, source.get(), &SlideSource::freezeSlides);
        QTimer::singleShot(0, source.get(), &SlideSource::captureSlide);
        QTRY_COMPARE(frozenChanged.count(), 3);
        QVERIFY(!source->slidesFrozen());
        QTRY_COMPARE_WITH_TIMEOUT(sink.batches.size(), before + 2, 1000);
        QTRY_COMPARE_WITH_TIMEOUT(sink.batches.size(), before + 3, 3000);
        const auto &forced = sink.batches.at(before + 1);
        const auto &periodic = sink.batches.at(before + 2);
        QVERIFY(forced.forceNewSlide);
        QVERIFY(!periodic.forceNewSlide);
        QVERIFY2(periodic.receivedMs - forced.receivedMs >= 900,
                 qPrintable(QString::number(periodic.receivedMs - forced.receivedMs)));
        QVERIFY(periodic.time - forced.time >= 900);
    }

    void restartTimerFromAnotherThread()
    {
        std::unique_ptr<SlideSource> source(SlideSource::create(screenInfo));
        SlideCaptureSink sink(source.get());
        QSignalSpy ready(source.get(), &SlideSource::ready);
        SourceStopper stopper{source.get()};
        source->start();
        QTRY_COMPARE(ready.count(), 1);
        QTest::qWait(1500);
        QVERIFY(source->currentSlideTime() >= 1500);
        source->restartTimer();
        const qint64 restartedAt = SlideCaptureSink::nowMs();
        const qsizetype before = sink.batches.size();
        QTRY_COMPARE_WITH_TIMEOUT(sink.batches.size(), before + 1, 3000);
        // The capture began after the restart and before its batch arrived.
        const SlideCaptureSink::Batch &batch = sink.batches.last();
        QVERIFY(batch.time >= 0);
        QVERIFY2(batch.time <= batch.receivedMs - restartedAt + 1,
                 qPrintable(
                     QStringLiteral("%1 %2").arg(batch.time).arg(batch.receivedMs - restartedAt)));
    }

    void grabberFactory()
    {
        selectGrabber(QByteArray());
        std::unique_ptr<ScreenGrabber> grabber = ScreenGrabber::create();
        QVERIFY2(qobject_cast<ScreenGrabberX11 *>(grabber.get()), qPrintable(grabber->name()));
        selectGrabber("qscreen");
        grabber = ScreenGrabber::create();
        QVERIFY(qobject_cast<ScreenGrabberQScreen *>(grabber.get()));
    }

    // What other programs show is what the user presents: it must be in the picture, in the
    // matrix and in the image alike.
    void otherClientsWindowIsInThePicture_data() { addGrabberRows(); }
    void otherClientsWindowIsInThePicture()
    {
        QFETCH(QByteArray, grabber);
        selectGrabber(grabber);
        QVERIFY(setRootColour(QStringLiteral("#202020")));
        const QRect rect(100, 120, 300, 200);
        ForeignWindow window(rect, qRgb(0x12, 0xc8, 0x64));
        QVERIFY(window.isShown());

        std::unique_ptr<SlideSource> source(SlideSource::create(screenInfo));
        QList<QColor> inside, outside;
        connect(
            source.get(), &SlideSource::slidesCaptured, this,
            [&](qint64, const QList<SlideImage> &slides, bool) {
                const SlideImage &slide = slides.first();
                inside = {frameColour(*slide.frame, 250, 220), slide.image.pixelColor(250, 220)};
                outside = {frameColour(*slide.frame, 50, 50), slide.image.pixelColor(50, 50)};
                SlideImage::releaseFrames(slides);
            });
        SourceStopper stopper{source.get()};
        source->start();
        QTRY_VERIFY_WITH_TIMEOUT(!inside.isEmpty(), 3000);
        QCOMPARE(inside, (QList<QColor>{QColor(0x12, 0xc8, 0x64), QColor(0x12, 0xc8, 0x64)}));
        QCOMPARE(outside, (QList<QColor>{QColor("#202020"), QColor("#202020")}));
    }

    // A screen nothing was drawn on is handed out again without a capture, also past the grab
    // that compares; whatever another client draws, anywhere on the screen, is captured, and
    // drawing the same pixels again is no new picture; a mirrored screen sees changes too.
    void stillScreenIsNotCapturedAgain()
    {
        selectGrabber(QByteArray());
        std::unique_ptr<ScreenGrabber> grabber = ScreenGrabber::create();
        QVERIFY(qobject_cast<ScreenGrabberX11 *>(grabber.get()));
        QScreen *screen = QGuiApplication::primaryScreen();
        QList<const cv::Mat *> frames;
        const auto release = qScopeGuard([&] { qDeleteAll(frames); });
        const auto grab = [&](int index = 0) {
            SlideImage slide = grabber->grab(index, screen);
            frames.append(slide.frame);
            return slide;
        };

        QVERIFY(setRootColour(QStringLiteral("#304050")));
        const SlideImage first = grab();
        QVERIFY(!first.unchanged);
        for (int i = 0; i < ScreenGrabberX11::grabsPerCheck + 2; ++i) {
            const SlideImage again = grab();
            QVERIFY2(again.unchanged, qPrintable(QString::number(i)));
            QCOMPARE(again.frame->data, first.frame->data);
            QCOMPARE(again.image.pixelColor(10, 10), QColor("#304050"));
        }

        ForeignWindow window(QRect(1500, 900, 200, 100), qRgb(0x20, 0x90, 0x40));
        QVERIFY(window.isShown());
        const SlideImage mapped = grab();
        QVERIFY(!mapped.unchanged);
        QCOMPARE(frameColour(*mapped.frame, 1600, 950), QColor(0x20, 0x90, 0x40));
        QVERIFY(grab().unchanged);

        window.fill(QRect(10, 10, 20, 20), qRgb(0xf0, 0xe0, 0x10));
        const SlideImage painted = grab();
        QVERIFY(!painted.unchanged);
        QCOMPARE(frameColour(*painted.frame, 1515, 915), QColor(0xf0, 0xe0, 0x10));
        QCOMPARE(painted.image.pixelColor(1600, 950), QColor(0x20, 0x90, 0x40));
        QCOMPARE(frameColour(*painted.frame, 10, 10), QColor("#304050"));

        // Painted again the same: drawn on, but no new picture.
        window.fill(QRect(10, 10, 20, 20), qRgb(0xf0, 0xe0, 0x10));
        const SlideImage repainted = grab();
        QVERIFY(repainted.unchanged);
        QCOMPARE(repainted.frame->data, painted.frame->data);

        // Mirrored displays show the same part of the root window: a change is in both.
        QVERIFY(!grab(1).unchanged);
        QVERIFY(setRootColour(QStringLiteral("#602060")));
        QVERIFY(!grab(0).unchanged);
        const SlideImage mirrored = grab(1);
        QVERIFY(!mirrored.unchanged);
        QCOMPARE(frameColour(*mirrored.frame, 10, 10), QColor("#602060"));
    }

    // The shared-memory grab reuses the pixel buffers of frames the pipeline has released, and
    // never one that a receiver still holds.
    void framesAreReusedOnlyWhenReleased()
    {
        selectGrabber(QByteArray());
        std::unique_ptr<ScreenGrabber> grabber = ScreenGrabber::create();
        QVERIFY(qobject_cast<ScreenGrabberX11 *>(grabber.get()));
        QScreen *screen = QGuiApplication::primaryScreen();

        QVERIFY(setRootColour(QStringLiteral("#a01010")));
        SlideImage first = grabber->grab(0, screen);
        QVERIFY(setRootColour(QStringLiteral("#1010a0")));
        SlideImage second = grabber->grab(0, screen);
        const auto release = qScopeGuard([&] {
            delete first.frame;
            delete second.frame;
        });
        QVERIFY(first.frame->data != second.frame->data);
        QCOMPARE(frameColour(*first.frame, 10, 10), QColor("#a01010"));
        QCOMPARE(first.image.pixelColor(10, 10), QColor("#a01010"));
        QCOMPARE(frameColour(*second.frame, 10, 10), QColor("#1010a0"));
        QCOMPARE(first.frame->type(), CV_8UC3);
        QCOMPARE(first.image.size(), screen->size() * screen->devicePixelRatio());

        const uchar *firstBuffer = first.frame->data;
        delete first.frame;
        first.frame = nullptr;
        QVERIFY(setRootColour(QStringLiteral("#10a010")));
        SlideImage third = grabber->grab(0, screen);
        QCOMPARE(third.frame->data, firstBuffer);
        QCOMPARE(frameColour(*third.frame, 10, 10), QColor("#10a010"));
        QCOMPARE(frameColour(*second.frame, 10, 10), QColor("#1010a0"));
        delete third.frame;
    }

    void conversionTable()
    {
        ScreenGrabberQScreen source;
        QSignalSpy errors(&source, &ScreenGrabber::grabError);

        QImage rgb32(4, 3, QImage::Format_RGB32);
        rgb32.fill(QColor(10, 20, 30));
        std::unique_ptr<cv::Mat> mat(source.qImageToCvMat(rgb32));
        QCOMPARE(mat->type(), CV_8UC3);
        QCOMPARE(mat->cols, 4);
        QCOMPARE(mat->rows, 3);
        QCOMPARE(mat->at<cv::Vec3b>(2, 3), cv::Vec3b(30, 20, 10));

        QImage premultiplied(5, 2, QImage::Format_ARGB32_Premultiplied);
        premultiplied.fill(QColor(200, 100, 50, 255));
        mat.reset(source.qImageToCvMat(premultiplied));
        QCOMPARE(mat->type(), CV_8UC4);
        QCOMPARE(mat->at<cv::Vec4b>(1, 4), cv::Vec4b(50, 100, 200, 255));

        QImage rgb888(7, 3, QImage::Format_RGB888); // odd width: rows are padded
        rgb888.fill(QColor(1, 2, 3));
        mat.reset(source.qImageToCvMat(rgb888));
        QCOMPARE(mat->type(), CV_8UC3);
        QCOMPARE(mat->at<cv::Vec3b>(2, 6), cv::Vec3b(3, 2, 1));

        mat.reset(source.qImageToCvMat(QImage()));
        QVERIFY(mat->empty());
        QCOMPARE(errors.count(), 0);

        QImage rgb16(6, 2, QImage::Format_RGB16);
        rgb16.fill(QColor(255, 0, 0));
        QTest::ignoreMessage(
            QtWarningMsg,
            QRegularExpression("\\[SlideSourceScreenInterval\\] unhandled screenshot image format "
                               "QImage::Format_RGB16"));
        mat.reset(source.qImageToCvMat(rgb16));
        QCOMPARE(mat->type(), CV_8UC4);
        QCOMPARE(mat->at<cv::Vec4b>(1, 5), cv::Vec4b(0, 0, 255, 255));
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(),
                 QStringLiteral("Invalid screenshot format. Recorded slides can be corrupted or "
                                "have broken colors."));
    }

    // Two monitors on one wide virtual screen of our own; the capture runs in a child process
    // of this test that connects to it.
    void twoScreens()
    {
        if (qEnvironmentVariableIsSet("QUILLORA_TWO_SCREEN_CHILD"))
            return twoScreensChild();

        int number = 90;
        while (number < 140 && QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
            ++number;
        const QString display = QStringLiteral(":%1").arg(number);
        QProcess xvfb;
        xvfb.start(QStringLiteral("Xvfb"),
                   {display, "-screen", "0", "3200x1080x24", "-noreset", "-nolisten", "tcp"});
        QVERIFY(xvfb.waitForStarted());
        const auto stopXvfb = qScopeGuard([&xvfb] {
            xvfb.terminate();
            xvfb.waitForFinished(5000);
        });
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)),
                                 10000);

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", display);
        const auto run = [&environment](const QString &program, const QStringList &arguments) {
            QProcess process;
            process.setProcessEnvironment(environment);
            process.setProcessChannelMode(QProcess::ForwardedChannels);
            process.start(program, arguments);
            return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
                   process.exitCode() == 0;
        };
        QVERIFY(run("xrandr", {"--setmonitor", "LEFT", "1920/508x1080/286+0+0", "screen"}));
        QVERIFY(run("xrandr", {"--setmonitor", "RIGHT", "1280/338x1024/270+1920+0", "none"}));
        environment.insert("QT_QPA_PLATFORM", "xcb");
        for (const QString grabber : {"shared memory", "qscreen"}) {
            environment.insert("QUILLORA_TWO_SCREEN_CHILD", grabber);
            QVERIFY2(run(QCoreApplication::applicationFilePath(), {"twoScreens"}),
                     qPrintable(grabber));
        }
    }

    void stopBeforeFirstCapture()
    {
        std::unique_ptr<SlideSource> source(SlideSource::create(screenInfo));
        SlideCaptureSink sink(source.get());
        QSignalSpy stopped(source.get(), &SlideSource::stopped);
        source->start();
        source->requestStop();
        QVERIFY(source->wait(5000));
        QTRY_COMPARE(stopped.count(), 1);
        QVERIFY(sink.batches.isEmpty());
    }
};

QTEST_MAIN(ScreenCaptureTest)
#include "tst_screencapture.moc"
