#include "MainWindow.h"
#include "Presentation.h"
#include "QmlTestWindow.h"
#include "RecorderSettings.h"
#include "SlideSourcePreview.h"
#include "TestEnvironment.h"

#include <QFile>
#include <QMetaMethod>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_configHome;

private Q_SLOTS:
    void initTestCase()
    {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        // The settings singletons save what changes: into a store of this test's own.
        QVERIFY(m_configHome.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome.path()));
    }

    void durationFormat_data()
    {
        QTest::addColumn<qint64>("milliseconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << "00:00:00.000";
        QTest::newRow("hours minutes seconds") << qint64(3725042) << "01:02:05.042";
        QTest::newRow("last millisecond of a minute") << qint64(59999) << "00:00:59.999";
        QTest::newRow("hundred hours") << qint64(100) * 3600 * 1000 << "100:00:00.000";
    }

    void durationFormat()
    {
        QFETCH(qint64, milliseconds);
        QFETCH(QString, text);
        QCOMPARE(MainWindow::formatDuration(milliseconds), text);
    }

    void identityAndConstants()
    {
        MainWindow window;
        QCOMPARE(window.objectName(), QStringLiteral("Quillora Recorder"));
        QCOMPARE(window.property("version").toString(), QStringLiteral("150"));
        for (const char *name : {"audioInputEnabled", "videoInputEnabled", "mouseListenerEnabled",
                                 "screenRecordingEnabled"}) {
            QVERIFY2(window.property(name).toBool(), name);
            QVERIFY2(!window.setProperty(name, false), name);
            QVERIFY2(window.property(name).toBool(), name);
        }
    }

    // QML handlers receive the arguments under these names.
    void signalParameterNames()
    {
        const QMetaObject *meta = &MainWindow::staticMetaObject;
        const auto parameters = [meta](const char *signature) {
            const int index = meta->indexOfSignal(signature);
            return index < 0 ? QList<QByteArray>{"<missing>"}
                             : meta->method(index).parameterNames();
        };
        QCOMPARE(parameters("property_loadingChanged(bool)"), QList<QByteArray>{"isRecording"});
        QCOMPARE(parameters("property_recordingChanged(bool)"), QList<QByteArray>{"isRecording"});
        QCOMPARE(parameters("property_recordingDurationStringChanged(QString)"),
                 QList<QByteArray>{"recordingDurationString"});
        QCOMPARE(parameters("errorMessage(QString)"), QList<QByteArray>{"message"});
        QCOMPARE(parameters("internal_showSlides(QList<QImage>)"), QList<QByteArray>{"slides"});
        QCOMPARE(parameters("internal_showLiveStreamStartFailed(QString)"),
                 QList<QByteArray>{"message"});
        QCOMPARE(parameters("startLiveStream(bool,QString)"),
                 (QList<QByteArray>{"connectToExistingLiveStream", "livestreamPresentationId"}));
    }

    void liveStreamIdentifierIsTrimmed()
    {
        MainWindow window;
        QSignalSpy start(&window, &MainWindow::startLiveStream);
        QSignalSpy loading(&window, &MainWindow::property_loadingChanged);
        window.qml_startLiveStream(true, QStringLiteral(" \t abc-123  \n"));
        QCOMPARE(start.count(), 1);
        QCOMPARE(start.at(0).at(0).toBool(), true);
        QCOMPARE(start.at(0).at(1).toString(), QStringLiteral("abc-123"));
        QCOMPARE(loading.count(), 1);
        QVERIFY(window.isLoading());
    }

    void loadingEndsWithStartAndStopReports()
    {
        MainWindow window;
        QSignalSpy startRecording(&window, &MainWindow::startRecording);
        QSignalSpy stopRecording(&window, &MainWindow::stopRecording);
        QSignalSpy loading(&window, &MainWindow::property_loadingChanged);
        QSignalSpy recording(&window, &MainWindow::property_recordingChanged);

        window.qml_startRecording();
        QCOMPARE(startRecording.count(), 1);
        QVERIFY(window.isLoading());

        window.setRecording(true);
        QVERIFY(window.isRecording());
        QVERIFY(!window.isLoading());
        QCOMPARE(recording.count(), 1);

        // A second start report changes nothing but the loading state.
        window.setLoading(true);
        window.setRecording(true);
        QCOMPARE(recording.count(), 1);
        QVERIFY(!window.isLoading());

        window.qml_stopRecording();
        QCOMPARE(stopRecording.count(), 1);
        QVERIFY(window.isLoading());
        QVERIFY(window.isRecording());

        window.setRecording(false);
        QVERIFY(!window.isRecording());
        QVERIFY(!window.isLoading());
        QCOMPARE(recording.count(), 2);
        QCOMPARE(recording.last().at(0).toBool(), false);
        QCOMPARE(loading.count(), 6);
        QCOMPARE(loading.last().at(0).toBool(), false);

        // A stop report without a recording still ends the loading state (a failed start).
        window.qml_startRecording();
        window.setRecording(false);
        QVERIFY(!window.isLoading());
        QCOMPARE(recording.count(), 2);
    }

    void durationRunsWhileRecording()
    {
        MainWindow window;
        window.run();
        QSignalSpy duration(&window, &MainWindow::property_recordingDurationStringChanged);
        window.setRecording(true);
        QCOMPARE(duration.count(), 1);
        QVERIFY(window.recordingDurationString().startsWith(QStringLiteral("00:00:00.")));
        QVERIFY(duration.wait(1000));
        QVERIFY(duration.wait(1000));
        QCOMPARE(duration.last().at(0).toString(), window.recordingDurationString());

        window.setRecording(false);
        const int afterStop = int(duration.count());
        QTest::qWait(250);
        QCOMPARE(duration.count(), afterStop);
    }

    void qmlWritesWithTheSameValueAreSilent()
    {
        MainWindow window;
        QSignalSpy loading(&window, &MainWindow::property_loadingChanged);
        QSignalSpy captured(&window, &MainWindow::slidesCapturedChanged);
        QSignalSpy presentation(&window, &MainWindow::property_liveStreamPresentationChanged);

        QVERIFY(window.setProperty("isLoading", false));
        QCOMPARE(loading.count(), 0);
        QVERIFY(window.setProperty("isLoading", true));
        QCOMPARE(loading.count(), 1);
        QCOMPARE(loading.at(0).at(0).toBool(), true);

        QVERIFY(window.setProperty("slidesCaptured", qint64(0)));
        QCOMPARE(captured.count(), 0);
        QVERIFY(window.setProperty("slidesCaptured", qint64(3)));
        QCOMPARE(captured.count(), 1);

        QVERIFY(window.setProperty("liveStreamPresentationTitle", QString()));
        QCOMPARE(presentation.count(), 0);

        // The recorder's setters report every call.
        window.setSlidesCaptured(3);
        QCOMPARE(captured.count(), 2);
        window.setLiveStreamDetails(QString(), QString());
        QCOMPARE(presentation.count(), 1);
    }

    void settersMirrorTheRecorder()
    {
        MainWindow window;
        window.setSlidesSaved(7);
        window.setSlidesToUpload(2);
        window.setSlidesUploaded(5);
        window.setSlidesUploadFailed(1);
        window.setSlideInfoWebSuccessCount(4);
        window.setSlideInfoWebFailCount(3);
        window.setLastSlideInfoWebSuccess(true);
        window.setLastSlideInfoWebError(QNetworkReply::HostNotFoundError);
        window.setLastSlideInfoWebErrorString(QStringLiteral("Host not found"));
        window.setMousePositionX(-12);
        window.setMousePositionY(8000000000LL);
        window.setSlidesFrozen(true);
        window.setLiveStream(true);
        window.setLiveStreamDetails(QStringLiteral("id1"), QStringLiteral("Talk"));
        const QVariantList resolutions{QVariantMap{{"width", 1920.0}, {"height", 1080.0}}};
        window.setSlidesResolutions(resolutions);

        QCOMPARE(window.property("slidesSaved").toLongLong(), 7);
        QCOMPARE(window.property("slidesToUpload").toLongLong(), 2);
        QCOMPARE(window.property("slidesUploaded").toLongLong(), 5);
        QCOMPARE(window.property("slidesUploadFailed").toLongLong(), 1);
        QCOMPARE(window.property("slideInfoWebSuccessCount").toLongLong(), 4);
        QCOMPARE(window.property("slideInfoWebFailCount").toLongLong(), 3);
        QCOMPARE(window.property("lastSlideInfoWebSuccess").toBool(), true);
        QCOMPARE(window.property("lastSlideInfoWebError").value<QNetworkReply::NetworkError>(),
                 QNetworkReply::HostNotFoundError);
        QCOMPARE(window.property("lastSlideInfoWebErrorString").toString(),
                 QStringLiteral("Host not found"));
        QCOMPARE(window.property("mousePositionX").toLongLong(), -12);
        QCOMPARE(window.property("mousePositionY").toLongLong(), 8000000000LL);
        QCOMPARE(window.property("slidesFrozen").toBool(), true);
        QCOMPARE(window.property("isLiveStream").toBool(), true);
        QCOMPARE(window.property("liveStreamPresentationId").toString(), QStringLiteral("id1"));
        QCOMPARE(window.property("liveStreamPresentationTitle").toString(), QStringLiteral("Talk"));
        QCOMPARE(window.property("slidesResolutions").toList(), resolutions);
    }

    void actionsBecomeSignals()
    {
        MainWindow window;
        QSignalSpy freeze(&window, &MainWindow::freezeSlides);
        QSignalSpy capture(&window, &MainWindow::captureSlide);
        QSignalSpy login(&window, &MainWindow::login);
        QSignalSpy loginFailed(&window, &MainWindow::internal_loginFailed);
        QSignalSpy loginSuccessful(&window, &MainWindow::internal_loginSuccessful);
        QSignalSpy slides(&window, &MainWindow::internal_showSlides);
        QSignalSpy startFailed(&window, &MainWindow::internal_showLiveStreamStartFailed);

        window.qml_freezeSlides();
        window.qml_captureSlide();
        window.qml_login(QStringLiteral("a@b.example"), QStringLiteral("secret"));
        window.loginFailed();
        window.loginSuccessful();
        window.showSlides({QImage(4, 3, QImage::Format_RGB32)});
        window.showLiveStreamStartFailed(QStringLiteral("no stream"));

        QCOMPARE(freeze.count(), 1);
        QCOMPARE(capture.count(), 1);
        QCOMPARE(login.count(), 1);
        QCOMPARE(login.at(0).at(0).toString(), QStringLiteral("a@b.example"));
        QCOMPARE(login.at(0).at(1).toString(), QStringLiteral("secret"));
        QCOMPARE(loginFailed.count(), 1);
        QCOMPARE(loginSuccessful.count(), 1);
        QCOMPARE(slides.count(), 1);
        QCOMPARE(slides.at(0).at(0).value<QList<QImage>>().size(), 1);
        QCOMPARE(startFailed.at(0).at(0).toString(), QStringLiteral("no stream"));
    }

    // The list shows the presentations by title, newest ("Presentation 2026-...") first.
    void presentationsSortedByTitleDescending()
    {
        QTemporaryDir workDir;
        QVERIFY(workDir.isValid());
        for (const QString &title : {QStringLiteral("Presentation 2026-03-05T14-07-09"),
                                     QStringLiteral("Presentation 2026-12-01T09-00-00"),
                                     QStringLiteral("Live Stream 2026-06-01T10-00-00")}) {
            QDir dir(workDir.path());
            QVERIFY(dir.mkdir(title) && dir.cd(title));
            Presentation presentation(dir);
            presentation.setTitle(title);
            presentation.setRecordedAt(QDateTime::currentDateTime());
            QVERIFY(presentation.saveXml());
        }
        QDir(workDir.path()).mkdir(QStringLiteral("not a presentation"));
        const QVariant previousWorkDir = qApp->property("workDir");
        qApp->setProperty("workDir", workDir.path());

        MainWindow window;
        QAbstractItemModel *list = window.presentations();
        QTRY_COMPARE(list->rowCount(), 3);
        const auto title = [list](int row) {
            return list->data(list->index(row, 0), Qt::UserRole + 2).toString();
        };
        QCOMPARE(title(0), QStringLiteral("Presentation 2026-12-01T09-00-00"));
        QCOMPARE(title(1), QStringLiteral("Presentation 2026-03-05T14-07-09"));
        QCOMPARE(title(2), QStringLiteral("Live Stream 2026-06-01T10-00-00"));

        // A reload after a recording picks up the new directory.
        QDir dir(workDir.path());
        QVERIFY(dir.mkdir(QStringLiteral("new")) && dir.cd(QStringLiteral("new")));
        Presentation added(dir);
        added.setTitle(QStringLiteral("Presentation 2026-12-08T10-00-00"));
        QVERIFY(added.saveXml());
        window.reloadPresentations();
        QTRY_COMPARE(list->rowCount(), 4);
        QCOMPARE(title(0), QStringLiteral("Presentation 2026-12-08T10-00-00"));
        qApp->setProperty("workDir", previousWorkDir);
    }

    void siteAddressFromEnvironment()
    {
        qputenv("QUILLORA_SITE_URL", "http://127.0.0.1:9/site//");
        QCOMPARE(MainWindow::siteUrl(), QStringLiteral("http://127.0.0.1:9/site"));
        qunsetenv("QUILLORA_SITE_URL");
        QCOMPARE(MainWindow::siteUrl(), QStringLiteral(QUILLORA_DEFAULT_SITE_URL));
    }

    // The window on the real settings objects: the lists of sources and inputs fill the settings
    // page and the preview starts the chosen source, without a QML warning.
    void realSettingsBindWithoutWarnings()
    {
        if (!TestEnvironment::hasDisplay())
            QSKIP("needs a display");
        MainWindow window;
        QStringList warnings;
        connect(window.engine(), &QQmlEngine::warnings, this,
                [&warnings](const QList<QQmlError> &errors) {
                    for (const QQmlError &error : errors)
                        warnings.append(error.toString());
                });
        RecorderSettings::instance()->load();
        window.run();
        QVERIFY(!window.engine()->rootObjects().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!RecorderSettings::instance()->availableSlideSources().isEmpty(),
                                 5000);
        SlideSourcePreview *preview = window.findSlideSourcePreview();
        QVERIFY(preview);
        QTRY_VERIFY_WITH_TIMEOUT(preview->slideSourceName() ==
                                     RecorderSettings::instance()->selectedSlideSource().name(),
                                 5000);
        auto *quickWindow = qobject_cast<QQuickWindow *>(window.engine()->rootObjects().first());
        auto *firstSource = quickWindow->findChild<QQuickItem *>(QStringLiteral("slideSources"));
        QVERIFY(firstSource);
        QTRY_VERIFY(!firstSource->childItems().isEmpty());
        QCOMPARE(firstSource->childItems().first()->property("text").toString(),
                 RecorderSettings::instance()->availableSlideSources().first().name());
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
    }

    // The recording needs the capture device: the preview stops before the start is requested
    // and starts again once the recording has stopped.
    void previewStopsAroundARecording()
    {
        if (!TestEnvironment::hasDisplay())
            QSKIP("needs a display");
        QmlTestWindow qml;
        QVERIFY(qml.load());
        MainWindow *window = qml.mainWindow();
        SlideSourcePreview *preview = window->findSlideSourcePreview();
        QVERIFY(preview);

        QSignalSpy stopping(preview, &SlideSourcePreview::stoppingChanged);
        bool stoppedBeforeStart = false;
        connect(window, &MainWindow::startRecording, this,
                [&]() { stoppedBeforeStart = stopping.count() == 2 && !preview->stopping(); });
        window->qml_startRecording();
        QVERIFY(stoppedBeforeStart);

        window->setRecording(true);
        stopping.clear();
        window->setRecording(false);
        // restart() stops whatever runs first, then starts the selected source again.
        QCOMPARE(stopping.count(), 2);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
