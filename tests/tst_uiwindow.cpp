#include "Application.h"
#include "ApplicationIdentity.h"
#include "CommandLineOptions.h"
#include "ExportControl.h"
#include "FakeS3Server.h"
#include "FakeWebService.h"
#include "ImageItem.h"
#include "MainWindow.h"
#include "MetaTypes.h"
#include "PresentationExportController.h"
#include "PulseModule.h"
#include "Recorder.h"
#include "RecorderSettings.h"
#include "S3TransferApi.h"
#include "SlideSourcePreview.h"
#include "TestEnvironment.h"
#include "TestServices.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <algorithm>
#include <memory>

namespace {

QQuickItem *findItem(QQuickItem *root, const QString &objectName)
{
    if (root->objectName() == objectName)
        return root;
    const QList<QQuickItem *> children = root->childItems();
    for (QQuickItem *child : children) {
        if (QQuickItem *found = findItem(child, objectName))
            return found;
    }
    return nullptr;
}

void type(QQuickWindow *window, const QString &text)
{
    for (const QChar character : text)
        QTest::keyClick(window, character.toLatin1());
}

void click(QQuickWindow *window, QQuickItem *item)
{
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}

} // namespace

// The whole program in this process on the test display: the real window, settings, recorder and
// screen capture. A user starts a recording, watches it run and stops it.
class TestUiWindow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dataDir;
    FakeWebService m_service;
    FakeS3Server m_s3;
    FakeWebService::StreamAnswer m_answer;
    std::unique_ptr<Application> m_application;
    MainWindow *m_mainWindow = nullptr;
    QQuickWindow *m_window = nullptr;

    QQuickItem *item(const char *name) const
    {
        return findItem(m_window->contentItem(), QString::fromLatin1(name));
    }

    QString grab(const QString &fileName) const
    {
        const QString path = QDir(TestEnvironment::outputDir()).filePath(fileName);
        m_window->grabWindow().save(path);
        return path;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestEnvironment::hasDisplay())
            QSKIP("needs a display");
        if (qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME"))
            QSKIP("runs only with the private settings store of scripts/test");
        QVERIFY(m_dataDir.isValid());
        const QString servicesError = TestServices::start(m_service, m_s3, m_answer);
        QVERIFY2(servicesError.isEmpty(), qPrintable(servicesError));
        MetaTypes::registerAll();
        S3TransferApi::init();

        m_application = std::make_unique<Application>();
        CommandLineOptions options;
        options.dataDir = m_dataDir.path();
        m_application->setOptions(options);
        m_application->run();
        m_mainWindow = m_application->findChild<MainWindow *>();
        if (!m_mainWindow)
            QSKIP("the application does not create the main window in this build");
        const QList<QObject *> roots = m_mainWindow->engine()->rootObjects();
        QVERIFY(!roots.isEmpty());
        m_window = qobject_cast<QQuickWindow *>(roots.first());
        QVERIFY(m_window);
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
    }

    void cleanupTestCase()
    {
        m_application.reset();
        S3TransferApi::shutdown();
    }

    void init()
    {
        // Our own warnings carry a "[Component]" tag; any other comes from a library that was
        // used wrongly (a read from a write-only file, a bad connection ...).
        QTest::failOnWarning(QRegularExpression(QStringLiteral("^(?!\\[)")));
    }

    void previewShowsTheScreen()
    {
        SlideSourcePreview *preview = m_mainWindow->findSlideSourcePreview();
        QVERIFY(preview);
        // The settings apply the stored (or first) slide source at their first poll.
        QTRY_VERIFY_WITH_TIMEOUT(preview->slideSourceName() != QStringLiteral("<not set>"), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(!preview->loading(), 15000);
        grab(QStringLiteral("window-preview.png"));
    }

    void recordAndStop()
    {
        QSignalSpy slides(m_mainWindow, &MainWindow::internal_showSlides);
        click(m_window, item("startButton"));
        QVERIFY(m_mainWindow->isLoading());
        QTRY_VERIFY_WITH_TIMEOUT(m_mainWindow->isRecording(), 30000);
        QVERIFY(!m_mainWindow->isLoading());
        QVERIFY(item("recordingScreen")->isVisible());
        QVERIFY(!item("mainScreen")->isVisible());

        // The clock runs and the first slide comes in.
        QQuickItem *duration = item("durationLabel");
        const QString started = duration->property("text").toString();
        QTRY_VERIFY_WITH_TIMEOUT(duration->property("text").toString() != started, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(m_mainWindow->property("slidesSaved").toLongLong() >= 1, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!item("slideView")->childItems().isEmpty(), 10000);
        QVERIFY(qobject_cast<ImageItem *>(item("slideView")->childItems().first()));
        QVERIFY(!slides.isEmpty());
        grab(QStringLiteral("window-recording.png"));

        const QString title = m_mainWindow->liveStreamPresentationTitle();
        click(m_window, item("stopButton"));
        QVERIFY(m_mainWindow->isLoading());
        QTRY_VERIFY_WITH_TIMEOUT(!m_mainWindow->isRecording(), 30000);
        QVERIFY(!m_mainWindow->isLoading());
        QVERIFY(item("mainScreen")->isVisible());

        // The new presentation is listed and the preview runs again.
        QQuickItem *list = item("presentationList");
        QTRY_COMPARE_WITH_TIMEOUT(list->property("count").toInt(), 1, 10000);
        const QStringList directories = QDir(m_dataDir.filePath(QStringLiteral("Presentations")))
                                            .entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(directories.size(), 1);
        if (!title.isEmpty())
            QCOMPARE(directories.first(), title);
        SlideSourcePreview *preview = m_mainWindow->findSlideSourcePreview();
        QTRY_VERIFY_WITH_TIMEOUT(!preview->loading(), 15000);
        grab(QStringLiteral("window-after-recording.png"));
    }

    // The recording plays in a browser without the recorder, and the user exports its video from
    // the list: the progress bar moves and the file appears. A second export, cancelled, leaves
    // nothing behind.
    void exportFromTheList()
    {
        const QDir presentations(m_dataDir.filePath(QStringLiteral("Presentations")));
        const QStringList directories = presentations.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(directories.size(), 1);
        const QDir dir(presentations.absoluteFilePath(directories.first()));
        QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("index.html"))));

        PresentationExportController *exporter = m_mainWindow->presentationExport();
        QSignalSpy progress(exporter, &PresentationExportController::property_progressChanged);
        QSignalSpy finished(exporter, &PresentationExportController::exportFinished);
        auto exportVideo = [this] {
            click(m_window, item("exportButton"));
            QTRY_VERIFY(item("exportVideo") && item("exportVideo")->isVisible());
            click(m_window, item("exportVideo"));
        };

        exportVideo();
        QVERIFY(exporter->running());
        QVERIFY(item("exportProgress")->isVisible());
        QVERIFY(!item("exportButton")->isEnabled());
        QVERIFY(finished.wait(120000));
        QVERIFY2(finished.first().at(0).toBool(), qPrintable(exporter->message()));
        const QString video = dir.filePath(QStringLiteral("video.mp4"));
        QCOMPARE(finished.first().at(1).toString(), video);
        QVERIFY(QFileInfo(video).size() > 0);
        QList<int> values;
        for (const QList<QVariant> &change : std::as_const(progress))
            values << change.first().toInt();
        QVERIFY2(values.size() >= 3 && values.last() == 100,
                 qPrintable(QString::number(values.size())));
        QVERIFY(std::is_sorted(values.cbegin(), values.cend()));
        QVERIFY(!item("exportProgress")->isVisible());
        QVERIFY(item("exportMessage")->property("text").toString().contains("video.mp4"));

        QVERIFY(QFile::remove(video));
        exportVideo();
        QVERIFY(exporter->running());
        click(m_window, item("exportCancelButton"));
        QVERIFY(finished.wait(60000));
        QCOMPARE(finished.last().at(0).toBool(), false);
        QCOMPARE(exporter->message(), ExportControl::cancelledMessage());
        QVERIFY(!QFileInfo::exists(video));
        QCOMPARE(dir.entryList({"*.part"}, QDir::Files | QDir::Hidden), QStringList());
        QVERIFY(item("exportButton")->isEnabled());
        grab(QStringLiteral("window-export-cancelled.png"));
    }

    // The user logs in on the live stream page, which starts the live stream, and stops it.
    void logInAndStreamLive()
    {
        click(m_window, item("menuLiveStream"));
        QTRY_VERIFY_WITH_TIMEOUT(item("credentialsView")->isVisible(), 5000);
        click(m_window, item("emailField"));
        type(m_window, QStringLiteral("speaker@example.org"));
        click(m_window, item("passwordField"));
        type(m_window, QStringLiteral("secret"));
        grab(QStringLiteral("window-login.png"));
        click(m_window, item("loginButton"));

        QTRY_VERIFY_WITH_TIMEOUT(m_mainWindow->isRecording(), 30000);
        QVERIFY(m_mainWindow->property("isLiveStream").toBool());
        const QList<FakeHttpRequest> logins = m_service.requests(FakeWebService::loginPath);
        QCOMPARE(logins.size(), 1);
        QCOMPARE(logins.first().json().value("user_email").toString(),
                 QStringLiteral("speaker@example.org"));
        QCOMPARE(logins.first().json().value("user_password").toString(), QStringLiteral("secret"));
        QCOMPARE(m_service.requests(FakeWebService::streamsPath).size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(m_mainWindow->property("slidesUploaded").toLongLong() >= 1, 20000);
        grab(QStringLiteral("window-live-stream.png"));

        click(m_window, item("stopButton"));
        QTRY_VERIFY_WITH_TIMEOUT(!m_mainWindow->isRecording(), 30000);
        QVERIFY(item("mainScreen")->isVisible());
        QVERIFY(m_service.requests(FakeWebService::pingPath).size() >= 2);
        QCOMPARE(m_service.requests(FakeWebService::slidesPath).size(),
                 qsizetype(m_mainWindow->property("slidesUploaded").toLongLong()));
        const QStringList live = QDir(m_dataDir.filePath(QStringLiteral("Presentations")))
                                     .entryList({QStringLiteral("Live Stream *")}, QDir::Dirs);
        QCOMPARE(live.size(), 1);
        const QString slides = m_dataDir.filePath(QStringLiteral("Presentations/%1/slides_%2")
                                                      .arg(live.first())
                                                      .arg(m_answer.slideVersion));
        const QStringList pngs = QDir(slides).entryList({QStringLiteral("*.png")}, QDir::Files);
        QVERIFY(!pngs.isEmpty());
        QVERIFY(!m_s3.object(m_answer.bucket, m_answer.prefix + pngs.first()).isEmpty());
    }

    // A start that cannot succeed brings the main screen back with the reason.
    void failedStartShowsTheReason()
    {
        RecorderSettings *settings = RecorderSettings::instance();
        const QByteArray screenCapture = settings->chosenSlideSourceId();
        settings->chooseSlideSource("no-such-source");
        click(m_window, item("menuSettings"));
        QTRY_VERIFY(item("slideSourceUnavailable")->isVisible());
        grab(QStringLiteral("window-source-unavailable.png"));
        click(m_window, item("startButton"));
        QVERIFY(m_mainWindow->isLoading());
        QTRY_VERIFY_WITH_TIMEOUT(!m_mainWindow->isLoading(), Recorder::startTimeoutMs + 10000);
        QVERIFY(!m_mainWindow->isRecording());
        QVERIFY(item("mainScreen")->isVisible());
        QQuickItem *error = findItem(m_window->contentItem(), QStringLiteral("errorLabel"));
        QVERIFY(error && error->isVisible());
        QVERIFY2(error->property("text").toString().contains("\"no-such-source\" is not available"),
                 qPrintable(error->property("text").toString()));
        grab(QStringLiteral("window-start-failed.png"));
        settings->chooseSlideSource(screenCapture);
        QTRY_VERIFY(!item("slideSourceUnavailable")->isVisible());
        click(m_window, item("menuPresentationList"));
    }

    // A microphone pulled while recording is shown over the recording until it is back.
    void lostInputIsShownWhileRecording()
    {
        RecorderSettings *settings = RecorderSettings::instance();
        const QByteArray chosenBefore = settings->chosenAudioInputId();
        PulseModule microphone(QStringLiteral("module-sine-source"),
                               QStringLiteral("source_name=windowmic rate=48000"));
        QVERIFY(microphone.isLoaded());
        settings->chooseAudioInput("windowmic");
        QTRY_VERIFY_WITH_TIMEOUT(settings->selectedAudioInputAvailable(), 5000);

        click(m_window, item("startButton"));
        QTRY_VERIFY_WITH_TIMEOUT(m_mainWindow->isRecording(), 30000);
        QQuickItem *warning = item("missingDevicesWarning");
        QVERIFY(!warning->isVisible());
        QVERIFY(microphone.unload());
        QTRY_VERIFY_WITH_TIMEOUT(warning->isVisible(), 3000);
        QVERIFY2(item("missingDevicesText")
                     ->property("text")
                     .toString()
                     .startsWith(QStringLiteral("Audio input \"%1\" is missing")
                                     .arg(settings->chosenAudioInputName())),
                 qPrintable(item("missingDevicesText")->property("text").toString()));
        grab(QStringLiteral("window-input-lost.png"));
        QVERIFY(microphone.load());
        QTRY_VERIFY_WITH_TIMEOUT(!warning->isVisible(), 5000);
        QVERIFY(item("errorLabel")->property("text").toString().contains(" is back."));

        click(m_window, item("stopButton"));
        QTRY_VERIFY_WITH_TIMEOUT(!m_mainWindow->isRecording(), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_mainWindow->isLoading(), 10000);
        settings->chooseAudioInput(chosenBefore);
    }

    // Closing the window finishes the recording as the Stop button does before anything goes.
    void closingTheWindowFinishesTheRecording()
    {
        const QDir presentations(m_dataDir.filePath(QStringLiteral("Presentations")));
        const QStringList before = presentations.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        click(m_window, item("startButton"));
        QTRY_VERIFY_WITH_TIMEOUT(m_mainWindow->isRecording(), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(m_mainWindow->property("slidesSaved").toLongLong() >= 1, 20000);
        QProcess::execute(QStringLiteral("xsetroot"),
                          {QStringLiteral("-solid"), QStringLiteral("#604020")});
        QTest::qWait(1500);

        m_window->close();
        QVERIFY(m_window->isVisible());
        QVERIFY(m_mainWindow->isLoading());
        QTRY_VERIFY_WITH_TIMEOUT(!m_mainWindow->isRecording() && !m_mainWindow->isLoading(), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(m_application->recorder()->state(), Recorder::Stopped, 30000);

        QStringList after = presentations.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString &name : before)
            after.removeAll(name);
        QCOMPARE(after.size(), 1);
        const QString dir = presentations.filePath(after.first());
        QFile timestamps(dir + QStringLiteral("/timestamps_ms.txt"));
        QVERIFY(timestamps.open(QIODevice::ReadOnly));
        const QStringList lines =
            QString::fromUtf8(timestamps.readAll()).split('\n', Qt::SkipEmptyParts);
        QVERIFY(lines.size() >= 2);
        QCOMPARE(qsizetype(m_mainWindow->property("slidesSaved").toLongLong()), lines.size());
        const QStringList pngs = QDir(dir).entryList({QStringLiteral("*.png")}, QDir::Files);
        QCOMPARE(pngs.size(), lines.size());
        for (const QString &png : pngs)
            QVERIFY(!QImage(dir + '/' + png).isNull());
        QFile audio(dir + QStringLiteral("/audio.wav"));
        QVERIFY(audio.open(QIODevice::ReadOnly));
        const QByteArray header = audio.read(44);
        QCOMPARE(header.size(), 44);
        const auto dataLength = qFromLittleEndian<quint32>(header.constData() + 40);
        QCOMPARE(qint64(dataLength) + 44, audio.size());
        QVERIFY(dataLength > 0);
    }
};

int main(int argc, char *argv[])
{
    ApplicationIdentity::apply();
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QGuiApplication application(argc, argv);
    TestUiWindow test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_uiwindow.moc"
