#include "SlideSourcePreview.h"
#include "TestEnvironment.h"

#include "MetaTypes.h"
#include "RecorderSettings.h"
#include "SlideImage.h"

#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// The preview with the real interval screen capture on the test display: pictures arrive, a stop
// waits for the source thread, and a restart during a stop is refused.
class TestSlideSourcePreview : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_configHome;

    static SlidesSourceInfo screenSource()
    {
        return SlidesSourceInfo(true, SlidesSourceInfo::ScreenInterval, "screen-interval", -1,
                                QStringLiteral("Interval screen capture"));
    }

private Q_SLOTS:
    void initTestCase()
    {
        // The settings singleton saves every change: into a store of this test's own.
        QVERIFY(m_configHome.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome.path()));
        if (!TestEnvironment::hasDisplay())
            QSKIP("needs a display");
        MetaTypes::registerAll();
        SlideImage::registerMetaTypes();
        RecorderSettings::instance()->setSelectedSlideSource(screenSource());
        RecorderSettings::instance()->setPointerRecordingEnabled(true);
    }

    void showsTheScreens()
    {
        SlideSourcePreview preview;
        preview.setSize(QSizeF(250, 140));
        QSignalSpy loading(&preview, &SlideSourcePreview::loadingChanged);
        preview.restart();
        QCOMPARE(preview.slideSourceName(), QStringLiteral("Interval screen capture"));
        QVERIFY(preview.pointerRecordingAvailable());
        QVERIFY(preview.pointerRecordingEnabled());

        QTRY_VERIFY_WITH_TIMEOUT(!preview.loading(), 10000);
        const QList<QImage> images = preview.images();
        QCOMPARE(images.size(), QGuiApplication::screens().size());
        // Kept as shown: scaled once into the picture's place in the item.
        const QSize captured = QGuiApplication::primaryScreen()->size() *
                               QGuiApplication::primaryScreen()->devicePixelRatio();
        QCOMPARE(images.first().size(),
                 SlideSourcePreview::placement(0, int(images.size()), captured, 1.0,
                                               preview.boundingRect())
                     .size()
                     .toSize());
        const QVariantList resolutions = preview.slidesResolutions();
        QCOMPARE(resolutions.size(), images.size());
        QCOMPARE(resolutions.first().toMap().value("width").toDouble(),
                 double(QGuiApplication::primaryScreen()->size().width()));

        // Pulled about ten times a second, but a still screen is neither scaled nor painted
        // again; a change shows at once.
        const int before = int(loading.count());
        QTest::qWait(500);
        QCOMPARE(loading.count(), before);
        QCOMPARE(QProcess::execute(QStringLiteral("xsetroot"), {"-solid", "#a02030"}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(preview.images().first().pixelColor(1, 1), QColor("#a02030"),
                                  1000);
        QCOMPARE(loading.count(), before + 1);

        preview.stop();
        QVERIFY(preview.loading());
        QCOMPARE(preview.slideSourceName(), QStringLiteral("<not set>"));
        QVERIFY(!preview.pointerRecordingAvailable());
        QVERIFY(preview.slidesResolutions().isEmpty());
        QVERIFY(preview.images().isEmpty());
    }

    // The preview's own pointer listener follows the system pointer.
    void followsThePointer()
    {
        SlideSourcePreview preview;
        preview.restart();
        QTRY_VERIFY_WITH_TIMEOUT(!preview.loading(), 10000);
        QSignalSpy moved(&preview, &SlideSourcePreview::mousePositionYChanged);
        // Relative moves: absolute warps produce no raw motion events.
        const int status =
            QProcess::execute(QStringLiteral("xdotool"),
                              {"mousemove", "0", "0", "mousemove_relative", "--", "40", "30"});
        if (status != 0)
            QSKIP("xdotool is not available");
        QTRY_VERIFY_WITH_TIMEOUT(preview.mousePositionX() == 40 && preview.mousePositionY() == 30,
                                 5000);
        QVERIFY(!moved.isEmpty());
        preview.stop();
    }

    void stopBlocksUntilTheSourceEnded()
    {
        SlideSourcePreview preview;
        preview.restart();
        QSignalSpy stopping(&preview, &SlideSourcePreview::stoppingChanged);
        bool sawStopping = false;
        connect(&preview, &SlideSourcePreview::stoppingChanged, this,
                [&]() { sawStopping = sawStopping || preview.stopping(); });
        preview.stop();
        QVERIFY(sawStopping);
        QCOMPARE(stopping.count(), 2);
        QVERIFY(!preview.stopping());
        // A second stop with nothing running is harmless.
        preview.stop();
        QVERIFY(!preview.stopping());
    }

    void restartWhileStoppingIsRefused()
    {
        SlideSourcePreview preview;
        preview.restart();
        QTRY_VERIFY_WITH_TIMEOUT(!preview.loading(), 10000);
        QTest::ignoreMessage(QtWarningMsg, "[SlideSourcePreview] is being stopped");
        bool restarted = false;
        connect(&preview, &SlideSourcePreview::stoppingChanged, this, [&]() {
            if (preview.stopping() && !restarted) {
                restarted = true;
                preview.restart();
            }
        });
        preview.stop();
        QVERIFY(restarted);
        QCOMPARE(preview.slideSourceName(), QStringLiteral("<not set>"));
        // Nothing was started by the refused call: no pictures come.
        QTest::qWait(300);
        QVERIFY(preview.loading());
    }

    // A second stop while the first one waits (the user clicks start meanwhile) must neither
    // touch the source twice nor end the stopping state early.
    void stopWhileStopping()
    {
        SlideSourcePreview preview;
        preview.restart();
        QTRY_VERIFY_WITH_TIMEOUT(!preview.loading(), 10000);
        int nested = 0;
        bool stillStoppingAfterNested = false;
        connect(&preview, &SlideSourcePreview::stoppingChanged, this, [&]() {
            if (preview.stopping() && nested == 0) {
                ++nested;
                // Runs inside the stop's own event loop, as a click would.
                QTimer::singleShot(0, &preview, [&]() {
                    preview.stop();
                    stillStoppingAfterNested = preview.stopping();
                });
            }
        });
        preview.stop();
        QCOMPARE(nested, 1);
        QVERIFY(stillStoppingAfterNested);
        QVERIFY(!preview.stopping());
        QCOMPARE(preview.slideSourceName(), QStringLiteral("<not set>"));
        preview.restart();
        QTRY_VERIFY_WITH_TIMEOUT(!preview.loading(), 10000);
    }

    void pointerSettingRestartsThePreview()
    {
        SlideSourcePreview preview;
        preview.restart();
        QSignalSpy enabled(&preview, &SlideSourcePreview::pointerRecordingEnabledChanged);
        QSignalSpy stopping(&preview, &SlideSourcePreview::stoppingChanged);
        RecorderSettings::instance()->setPointerRecordingEnabled(false);
        QCOMPARE(enabled.count(), 1);
        QVERIFY(!preview.pointerRecordingEnabled());
        QCOMPARE(stopping.count(), 2);
        QCOMPARE(preview.slideSourceName(), QStringLiteral("Interval screen capture"));
        RecorderSettings::instance()->setPointerRecordingEnabled(true);
        QVERIFY(preview.pointerRecordingEnabled());
    }

    void noSourceLeavesThePreviewEmpty()
    {
        RecorderSettings::instance()->setSelectedSlideSource(SlidesSourceInfo());
        if (RecorderSettings::instance()->selectedSlideSource().isValid())
            QSKIP("the settings keep a valid source selected");
        SlideSourcePreview preview;
        // Nothing chosen yet is a normal state at the start, not a fault to warn about.
        QTest::failOnWarning(QRegularExpression("."));
        preview.restart();
        QCOMPARE(preview.slideSourceName(), QStringLiteral("<not set>"));
        QTest::qWait(300);
        QVERIFY(preview.loading());
        RecorderSettings::instance()->setSelectedSlideSource(screenSource());
    }
};

QTEST_MAIN(TestSlideSourcePreview)
#include "tst_slidesourcepreview.moc"
