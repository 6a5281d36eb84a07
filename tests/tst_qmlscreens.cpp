#include "ImageItem.h"
#include "MainWindow.h"
#include "QmlTestInput.h"
#include "QmlTestWindow.h"
#include "TestEnvironment.h"

#include <QDesktopServices>
#include <QFontMetricsF>
#include <QPainter>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

using QmlTestInput::click;
using QmlTestInput::typeInto;

// Receives the URLs the window asks the desktop to open.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public Q_SLOTS:
    void open(const QUrl &url) { urls.append(url); }
};

// The screens of the main window with the real backend and settings doubles: which screen shows
// when, what the buttons send, the login page, the error label, and screenshots of every screen.
class TestQmlScreens : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QmlTestWindow> m_qml;

    QQuickWindow *window() const { return m_qml->window(); }
    MainWindow *backend() const { return m_qml->mainWindow(); }
    QQuickItem *item(const char *name) const { return m_qml->item(QString::fromLatin1(name)); }

    void load()
    {
        QVERIFY(m_qml->load());
        QVERIFY(QTest::qWaitForWindowExposed(window()));
    }

    static QImage slideImage(const QColor &color, const QString &text)
    {
        QImage image(800, 600, QImage::Format_RGB32);
        image.fill(color);
        QPainter painter(&image);
        painter.setPen(Qt::white);
        QFont font = painter.font();
        font.setPixelSize(80);
        painter.setFont(font);
        painter.drawText(image.rect(), Qt::AlignCenter, text);
        return image;
    }

    QList<ImageItem *> shownSlides() const
    {
        QList<ImageItem *> images;
        const QList<QQuickItem *> children = item("slideView")->childItems();
        for (QQuickItem *child : children) {
            if (auto *image = qobject_cast<ImageItem *>(child))
                images.append(image);
        }
        return images;
    }

    void startLiveStreamRecording()
    {
        backend()->setRecording(true);
        backend()->setLiveStream(true);
        backend()->setLiveStreamDetails(QStringLiteral("p-42"), QStringLiteral("Keynote & demo"));
        backend()->setSlidesCaptured(12);
        backend()->setSlidesSaved(9);
        backend()->setSlidesToUpload(1);
        backend()->setSlidesUploaded(8);
        backend()->setSlideInfoWebSuccessCount(8);
        backend()->setLastSlideInfoWebSuccess(true);
        backend()->setMousePositionX(640);
        backend()->setMousePositionY(-20);
        backend()->setSlidesResolutions({QVariantMap{{"width", 1920.0}, {"height", 1080.0}},
                                         QVariantMap{{"width", 1280.0}, {"height", 1024.0}}});
    }

private Q_SLOTS:
    void initTestCase()
    {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        if (!TestEnvironment::hasDisplay())
            QSKIP("needs a display");
    }

    void init()
    {
        m_qml = std::make_unique<QmlTestWindow>();
        const SlidesSourceInfo screen(true, SlidesSourceInfo::ScreenInterval, "screen", -1,
                                      QStringLiteral("Interval screen capture"));
        m_qml->recorderSettings.slideSources = {screen};
        m_qml->recorderSettings.selectedSlideSource = screen;
    }

    void cleanup() { m_qml.reset(); }

    void loadsWithoutWarnings()
    {
        load();
        QCOMPARE(window()->title(), QStringLiteral("Quillora Recorder"));
        QCOMPARE(window()->size(), QSize(640, 480));
        QCOMPARE(window()->color(), QColor("#040316"));
        QVERIFY2(m_qml->warnings().isEmpty(), qPrintable(m_qml->warnings().join('\n')));
        QVERIFY(backend()->findSlideSourcePreview());
    }

    void presentationList()
    {
        // A folder name with the characters that end or change a URL's path.
        const QString firstDirectory =
            QStringLiteral("/tmp/quillora/Talk #2? 100% done/Presentation 2026-12-08 09:15:02");
        m_qml->addPresentation(QStringLiteral("Presentation 2026-12-08 09:15:02"), firstDirectory,
                               14, QStringLiteral("2026/12/08 09:15"));
        m_qml->addPresentation(QStringLiteral("Live Stream 2026-12-07 18:00:40"),
                               QStringLiteral("/tmp/quillora/Live Stream 2026-12-07 18:00:40"), 3,
                               QStringLiteral("2026/12/07 18:00"));
        m_qml->addPresentation(QStringLiteral("Presentation 2026-12-01 11:02:13"),
                               QStringLiteral("/tmp/quillora/Presentation 2026-12-01 11:02:13"), 1,
                               QStringLiteral("2026/12/01 11:02"));
        load();
        QVERIFY(item("presentationListPage")->isVisible());
        QVERIFY(!item("settingsPage")->isVisible());
        QVERIFY(!item("liveStreamPage")->isVisible());
        QCOMPARE(item("presentationList")->property("count").toInt(), 3);
        QCOMPARE(item("uploadsLink")->property("text").toString(),
                 MainWindow::siteUrl() + QStringLiteral("/recorder_app/uploads"));
        QVERIFY(m_qml->saveScreenshot(QStringLiteral("main-screen-presentations.png")));

        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
        click(window(), item("openButton"));
        click(window(), item("uploadsLink"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QCOMPARE(catcher.urls.size(), 2);
        QVERIFY(catcher.urls.at(0).isLocalFile());
        QCOMPARE(catcher.urls.at(0).toLocalFile(), firstDirectory);
        QVERIFY(!catcher.urls.at(0).hasQuery());
        QVERIFY(!catcher.urls.at(0).hasFragment());
        QCOMPARE(catcher.urls.at(1).toString(),
                 MainWindow::siteUrl() + QStringLiteral("/recorder_app/uploads"));
    }

    void menuSelectsOnePage()
    {
        load();
        click(window(), item("menuLiveStream"));
        QTRY_VERIFY(item("liveStreamPage")->isVisible());
        QVERIFY(!item("presentationListPage")->isVisible());
        QVERIFY(!item("settingsPage")->isVisible());
        QCOMPARE(item("menu")->property("selected").toString(), QStringLiteral("liveStream"));

        // The selection outlives a recording.
        backend()->setRecording(true);
        QVERIFY(!item("mainScreen")->isVisible());
        backend()->setRecording(false);
        QVERIFY(item("mainScreen")->isVisible());
        QVERIFY(item("liveStreamPage")->isVisible());
    }

    // The reasons stay readable on the main screen after the recording ended (why it stopped),
    // until the next start.
    void errorsAccumulateUntilTheNextStart()
    {
        load();
        QQuickItem *errors = item("errorLabel");
        QVERIFY(!errors->isVisible());
        backend()->setRecording(true);
        Q_EMIT backend()->errorMessage(QStringLiteral("Capture device lost"));
        Q_EMIT backend()->errorMessage(QStringLiteral("Upload failed"));
        QCOMPARE(errors->property("text").toString(),
                 QStringLiteral("Capture device lost\nUpload failed"));
        QVERIFY(errors->isVisible());
        QVERIFY(m_qml->saveScreenshot(QStringLiteral("recording-screen-errors.png")));

        backend()->qml_stopRecording();
        QCOMPARE(errors->property("text").toString(),
                 QStringLiteral("Capture device lost\nUpload failed"));
        backend()->setRecording(false);
        QVERIFY(item("mainScreen")->isVisible());
        QCOMPARE(errors->property("text").toString(),
                 QStringLiteral("Capture device lost\nUpload failed"));
        QVERIFY(errors->isVisible());

        // A message that comes again is counted, not repeated, and only the latest are kept.
        for (int i = 0; i < 3; ++i)
            Q_EMIT backend()->errorMessage(QStringLiteral("Capture device lost"));
        QCOMPARE(errors->property("text").toString(),
                 QStringLiteral("Upload failed\nCapture device lost (4 times)"));
        for (int i = 0; i < 150; ++i)
            Q_EMIT backend()->errorMessage(QStringLiteral("Ping %1 failed").arg(i));
        const QStringList lines = errors->property("text").toString().split('\n');
        QCOMPARE(lines.size(), 100);
        QCOMPARE(lines.first(), QStringLiteral("Ping 50 failed"));
        QCOMPARE(lines.last(), QStringLiteral("Ping 149 failed"));

        backend()->qml_startRecording();
        QCOMPARE(errors->property("text").toString(), QString());
        QVERIFY(!errors->isVisible());
    }

    void recordingScreen()
    {
        load();
        QSignalSpy stop(backend(), &MainWindow::stopRecording);
        QSignalSpy freeze(backend(), &MainWindow::freezeSlides);
        QSignalSpy capture(backend(), &MainWindow::captureSlide);

        backend()->qml_startRecording();
        QVERIFY(item("loadingScreen")->isVisible());
        QVERIFY(!item("mainScreen")->isVisible());
        backend()->setLiveStreamDetails(QString(), QStringLiteral("Presentation 2026-12-08"));
        backend()->setRecording(true);
        QVERIFY(item("recordingScreen")->isVisible());
        QVERIFY(!item("loadingScreen")->isVisible());
        QVERIFY(!item("mainScreen")->isVisible());
        QCOMPARE(item("stopButton")->property("text").toString(), QStringLiteral("Stop Recording"));
        QCOMPARE(item("presentationTitle")
                     ->property("text")
                     .toString()
                     .contains("Presentation 2026-12-08"),
                 true);

        backend()->showSlides({slideImage(QColor("#1f6f43"), QStringLiteral("Slide 1")),
                               slideImage(QColor("#6f1f43"), QStringLiteral("Screen 2"))});
        QList<ImageItem *> slides = shownSlides();
        QCOMPARE(slides.size(), 2);
        QCOMPARE(slides.at(0)->width(), 320.0);
        QTRY_COMPARE(slides.at(1)->x(), 320.0);
        QCOMPARE(slides.at(1)->image().size(), QSize(800, 600));

        // The running clock.
        QTRY_VERIFY(item("durationLabel")->property("text").toString() !=
                    QStringLiteral("00:00:00.000"));
        QVERIFY(item("durationLabel")->property("text").toString().startsWith("00:00:0"));

        // A lost device is shown over the recording until it is back.
        QVERIFY(!item("missingDevicesWarning")->isVisible());
        backend()->setMissingDevices({QStringLiteral("Audio input \"<b>USB</b> mic\"")});
        QVERIFY(item("missingDevicesWarning")->isVisible());
        QCOMPARE(item("missingDevicesText")->property("text").toString(),
                 QStringLiteral("Audio input \"<b>USB</b> mic\" is missing: waiting for it to "
                                "return."));
        QVERIFY(m_qml->saveScreenshot(QStringLiteral("recording-screen-missing-device.png")));
        backend()->setMissingDevices({});
        QVERIFY(!item("missingDevicesWarning")->isVisible());

        click(window(), item("freezeButton"));
        click(window(), item("captureButton"));
        QCOMPARE(freeze.count(), 1);
        QCOMPARE(capture.count(), 1);
        backend()->setSlidesFrozen(true);
        QCOMPARE(item("freezeButton")->property("text").toString(),
                 QStringLiteral("Unfreeze slides"));
        QQuickItem *frozen = item("frozenLabel");
        QVERIFY(frozen->isVisible());
        QVERIFY(m_qml->saveScreenshot(QStringLiteral("recording-screen.png")));
        // Blinks: hidden and shown again every 800 ms.
        QTRY_VERIFY_WITH_TIMEOUT(!frozen->isVisible(), 2000);
        QTRY_VERIFY_WITH_TIMEOUT(frozen->isVisible(), 2000);
        backend()->setSlidesFrozen(false);
        QVERIFY(!frozen->isVisible());

        // An empty list clears the slide view.
        backend()->showSlides({});
        QCOMPARE(shownSlides().size(), 0);

        click(window(), item("stopButton"));
        QCOMPARE(stop.count(), 1);
        // While stopping, the loading screen covers the recording screen.
        QVERIFY(item("recordingScreen")->isVisible());
        QVERIFY(item("loadingScreen")->isVisible());
        QVERIFY(item("loadingInfo")->isVisible());
        backend()->setRecording(false);
        QVERIFY(item("mainScreen")->isVisible());
        QVERIFY(!item("recordingScreen")->isVisible());
        QVERIFY(!item("loadingScreen")->isVisible());
    }

    void liveStreamRecordingScreen()
    {
        m_qml->liveStreamSettings.pollVMixApi = true;
        m_qml->liveStreamSettings.vMixApiPollInterval = 4000;
        load();
        startLiveStreamRecording();
        backend()->showSlides({slideImage(QColor("#203a8f"), QStringLiteral("Live slide"))});
        QCOMPARE(item("stopButton")->property("text").toString(), QStringLiteral("Stop Streaming"));
        const QString title = item("presentationTitle")->property("text").toString();
        QVERIFY2(title.contains(MainWindow::siteUrl() + "/p-42/-/edit/live"), qPrintable(title));
        QVERIFY2(title.contains("Keynote &amp; demo"), qPrintable(title));
        QVERIFY(m_qml->saveScreenshot(QStringLiteral("recording-screen-live-stream.png")));

        backend()->qml_stopRecording();
        QVERIFY(item("loadingScreen")->isVisible());
        const QString loadingTitle = item("loadingPresentationTitle")->property("text").toString();
        QVERIFY2(loadingTitle.contains(MainWindow::siteUrl() + "/p-42/-/edit/live"),
                 qPrintable(loadingTitle));
        QVERIFY(m_qml->saveScreenshot(QStringLiteral("loading-screen-stopping.png")));
    }

    void loadingScreen()
    {
        load();
        backend()->qml_startRecording();
        QVERIFY(item("loadingScreen")->isVisible());
        QVERIFY(!item("loadingInfo")->isVisible());
        QQuickItem *spinner = item("loaderForeground");
        QCOMPARE(spinner->width(), 200.0);
        const qreal before = spinner->rotation();
        QTRY_VERIFY(spinner->rotation() != before);
        QVERIFY(m_qml->saveScreenshot(QStringLiteral("loading-screen.png")));
    }

    void credentialsViewWithoutToken()
    {
        m_qml->loginSettings.loginEmail = QStringLiteral("speaker@quillora.example");
        load();
        click(window(), item("menuLiveStream"));
        QTRY_VERIFY(item("liveStreamPage")->isVisible());
        QVERIFY(item("credentialsView")->isVisible());
        QVERIFY(!item("resumeView")->isVisible());
        QCOMPARE(item("emailField")->property("text").toString(),
                 QStringLiteral("speaker@quillora.example"));
        QVERIFY(!item("presentationIdField")->isVisible());
        QVERIFY(m_qml->saveScreenshot(QStringLiteral("main-screen-login.png")));

        // Tab order: e-mail, password, check box, e-mail (the identifier field is hidden).
        QQuickItem *email = item("emailField");
        QQuickItem *password = item("passwordField");
        QQuickItem *box = item("resumeCheckBox");
        QmlTestInput::textInput(email)->forceActiveFocus();
        QTest::keyClick(window(), Qt::Key_Tab);
        QVERIFY(QmlTestInput::hasActiveFocus(password));
        QTest::keyClick(window(), Qt::Key_Tab);
        QVERIFY(box->hasActiveFocus());
        QTest::keyClick(window(), Qt::Key_Tab);
        QVERIFY(QmlTestInput::hasActiveFocus(email));

        // With the box checked, the identifier field joins the order.
        click(window(), box);
        QCOMPARE(m_qml->loginSettings.liveStreamResume, true);
        QVERIFY(item("presentationIdField")->isVisible());
        box->forceActiveFocus();
        QTest::keyClick(window(), Qt::Key_Tab);
        QVERIFY(QmlTestInput::hasActiveFocus(item("presentationIdField")));
        QTest::keyClick(window(), Qt::Key_Tab);
        QVERIFY(QmlTestInput::hasActiveFocus(email));
    }

    void loginFailureAndSuccess()
    {
        load();
        click(window(), item("menuLiveStream"));
        QSignalSpy login(backend(), &MainWindow::login);
        QSignalSpy start(backend(), &MainWindow::startLiveStream);

        typeInto(window(), item("emailField"), QStringLiteral("a@b.example"), Qt::Key_Tab);
        QCOMPARE(m_qml->loginSettings.loginEmail, QStringLiteral("a@b.example"));
        typeInto(window(), item("passwordField"), QStringLiteral("secret"), Qt::Key_Return);
        QCOMPARE(login.count(), 1);
        QCOMPARE(login.at(0).at(0).toString(), QStringLiteral("a@b.example"));
        QCOMPARE(login.at(0).at(1).toString(), QStringLiteral("secret"));
        QVERIFY(item("loginCreating")->isVisible());
        QVERIFY(!item("loginConnecting")->isVisible());

        backend()->loginFailed();
        QQuickItem *error = item("loginError");
        QVERIFY(error->isVisible());
        QCOMPARE(error->property("text").toString(),
                 QStringLiteral("Login failed.\nCheck your email and password."));
        QVERIFY(!item("loginCreating")->isVisible());
        QVERIFY(QmlTestInput::hasActiveFocus(item("emailField")));
        QVERIFY(m_qml->saveScreenshot(QStringLiteral("main-screen-login-failed.png")));

        // Connecting to an existing stream, with blanks around the identifier.
        click(window(), item("resumeCheckBox"));
        typeInto(window(), item("presentationIdField"), QStringLiteral(" p-7 "), Qt::Key_Return);
        QCOMPARE(m_qml->loginSettings.liveStreamPresentationId, QStringLiteral(" p-7 "));
        QCOMPARE(login.count(), 2);
        QVERIFY(!error->isVisible());
        QVERIFY(item("loginConnecting")->isVisible());

        backend()->loginSuccessful();
        QVERIFY(!item("loginConnecting")->isVisible());
        QCOMPARE(start.count(), 1);
        QCOMPARE(start.at(0).at(0).toBool(), true);
        QCOMPARE(start.at(0).at(1).toString(), QStringLiteral("p-7"));

        backend()->setRecording(false);
        backend()->showLiveStreamStartFailed(QStringLiteral("Live stream not found"));
        QVERIFY(error->isVisible());
        QCOMPARE(error->property("text").toString(), QStringLiteral("Live stream not found"));

        // The service's message is text, whatever it holds: no markup is followed, no picture
        // fetched.
        const QString markup =
            QStringLiteral("<img src=\"http://127.0.0.1:9/x.png\"><b>Not</b> found");
        backend()->showLiveStreamStartFailed(markup);
        QCOMPARE(error->property("text").toString(), markup);
        QCOMPARE(error->property("textFormat").toInt(), 0); // Text.PlainText
        const QFontMetricsF metrics(error->property("font").value<QFont>());
        QVERIFY2(
            qAbs(error->property("contentWidth").toReal() - metrics.horizontalAdvance(markup)) < 2,
            qPrintable(error->property("contentWidth").toString()));
    }

    void resumeViewWithStoredToken()
    {
        m_qml->loginSettings.loginEmail = QStringLiteral("speaker@quillora.example");
        m_qml->loginSettings.liveStreamToken = QStringLiteral("token");
        m_qml->loginSettings.liveStreamResume = true;
        m_qml->loginSettings.liveStreamPresentationId = QStringLiteral("p-9");
        m_qml->loginSettings.liveStreamPresentationTitle = QStringLiteral("Friday <talk>");
        load();
        click(window(), item("menuLiveStream"));
        QTRY_VERIFY(item("resumeView")->isVisible());
        QVERIFY(!item("credentialsView")->isVisible());
        const QString details = item("resumeDetails")->property("text").toString();
        QVERIFY2(details.contains(MainWindow::siteUrl() + "/p-9/-/edit/live"), qPrintable(details));
        QVERIFY2(details.contains("Friday &lt;talk&gt;"), qPrintable(details));
        QVERIFY(m_qml->saveScreenshot(QStringLiteral("main-screen-login-resume.png")));

        QSignalSpy start(backend(), &MainWindow::startLiveStream);
        click(window(), item("resumeStartButton"));
        QCOMPARE(start.count(), 1);
        QCOMPARE(start.at(0).at(0).toBool(), true);
        QCOMPARE(start.at(0).at(1).toString(), QStringLiteral("p-9"));
        backend()->setRecording(false);

        click(window(), item("enterCredentialsButton"));
        QVERIFY(item("credentialsView")->isVisible());
        QVERIFY(!item("resumeView")->isVisible());
        // Pressing it is for the rest of the run, whatever the token does.
        m_qml->loginSettings.setProperty("liveStreamToken", QStringLiteral("other"));
        QVERIFY(item("credentialsView")->isVisible());
    }
};

QTEST_MAIN(TestQmlScreens)
#include "tst_qmlscreens.moc"
