#include "Application.h"

#include "ErrorWindow.h"
#include "HeadlessRecording.h"
#include "LiveStreamSettings.h"
#include "Logging.h"
#include "LoginSettings.h"
#include "MainWindow.h"
#include "NetworkSettings.h"
#include "RecorderSettings.h"
#include "TerminationSignals.h"
#include "WebApi.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

Application *Application::s_instance = nullptr;

Application::Application(QObject *parent) : QObject(parent)
{
    s_instance = this;
}

Application::~Application()
{
    m_terminationSignals.reset();
    m_headlessRecording.reset();
    if (s_instance == this)
        s_instance = nullptr;
}

Application *Application::instance()
{
    return s_instance;
}

void Application::setOptions(const CommandLineOptions &options)
{
    m_options = options;
}

QString Application::launcherFileName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("QuilloraRecorderLauncher.exe");
#else
    return QStringLiteral("QuilloraRecorderLauncher");
#endif
}

QDir Application::dataDirectoryFor(const QString &programDir)
{
    QDir dir(programDir);
    if (dir.absolutePath().toLower().endsWith(QLatin1String("app"))) {
        QDir parent(dir);
        if (parent.cdUp()) {
            const QStringList launchers =
                parent.entryList(QStringList{launcherFileName()}, QDir::NoFilter, QDir::NoSort);
            if (!launchers.isEmpty())
                dir = parent;
        }
    }
    return dir;
}

bool Application::initializeWorkDir(const QString &dataDirOverride)
{
    QDir dir;
    if (dataDirOverride.isEmpty()) {
        dir = dataDirectoryFor(QCoreApplication::applicationDirPath());
    } else {
        dir = QDir(QFileInfo(dataDirOverride).absoluteFilePath());
        if (!dir.exists())
            dir.mkpath(QStringLiteral("."));
    }

    const QFileInfo dirInfo(dir.absolutePath());
    if (!dirInfo.isDir()) {
        qWarning() << "Data dir is not a directory:" << dir.absolutePath();
        return false;
    }
    if (!dirInfo.isWritable()) {
        qWarning() << "Data dir is not writable:" << dir.absolutePath();
        return false;
    }

    QDir logsDir(dir);
    if (!logsDir.mkpath(QStringLiteral("Logs")) || !logsDir.cd(QStringLiteral("Logs"))) {
        qWarning() << "Creating Logs dir failed:"
                   << logsDir.absoluteFilePath(QStringLiteral("Logs"));
        return false;
    }

    QDir presentationsDir(dir);
    if (!presentationsDir.mkpath(QStringLiteral("Presentations")) ||
        !presentationsDir.cd(QStringLiteral("Presentations"))) {
        qWarning() << "Creating Presentations dir failed:"
                   << presentationsDir.absoluteFilePath(QStringLiteral("Presentations"));
        return false;
    }

    Logging::instance()->setLogDirectory(logsDir.absolutePath());
    qDebug() << "[Application]"
             << "log directory set to" << logsDir.absolutePath();

    QCoreApplication::instance()->setProperty("workDir", presentationsDir.absolutePath());
    qDebug() << "[Application]"
             << "work directory set to" << presentationsDir.absolutePath();
    return true;
}

void Application::loadSettings()
{
    LiveStreamSettings::instance()->load();
    LoginSettings::instance()->load();
    RecorderSettings::instance()->load();
    NetworkSettings::instance()->load();
}

void Application::runHeadless()
{
    m_headlessRecording = std::make_unique<HeadlessRecording>(m_options, &m_recorder);
    if (!initializeWorkDir(m_options.dataDir)) {
        std::fputs("QuilloraRecorder: the data directory could not be initialized\n", stderr);
        QCoreApplication::exit(HeadlessRecording::CannotStart);
        return;
    }
    loadSettings();
    m_headlessRecording->run();
}

void Application::run()
{
    if (m_options.headless()) {
        runHeadless();
        return;
    }
    if (!initializeWorkDir(m_options.dataDir)) {
        auto *errorWindow = new ErrorWindow(
            QStringLiteral("Quillora Recorder data directory could not be initialized.<br>"
                           "Try moving the Quillora Recorder into a directory with write "
                           "permissions (e.g. Desktop or Documents)."),
            this);
        errorWindow->run();
        return;
    }

    loadSettings();

    m_mainWindow = new MainWindow(this);
    m_mainWindow->run();
    connectMainWindow();

    m_terminationSignals = TerminationSignals::create();
    if (m_terminationSignals) {
        connect(m_terminationSignals.get(), &TerminationSignals::terminationRequested, this,
                [this](int signalNumber) {
                    qInfo() << "[Application]"
                            << "termination signal" << signalNumber;
                    quitAfterRecording();
                });
    }
}

void Application::quitAfterRecording()
{
    if (m_recorder.state() == Recorder::Stopped) {
        QCoreApplication::quit();
        return;
    }
    qInfo() << "[Application]"
            << "finishing the recording before quitting";
    m_quitWhenStopped = true;
    if (m_mainWindow)
        m_mainWindow->setLoading(true);
    m_recorder.requestStop();
}

void Application::connectMainWindow()
{
    MainWindow *window = m_mainWindow;
    Recorder *recorder = &m_recorder;
    connect(recorder, &Recorder::recordingError, window, &MainWindow::errorMessage);
    connect(recorder, &Recorder::started, window, [window, recorder]() {
        window->setRecording(true);
        window->showSlides({});
        if (recorder->isLiveStream()) {
            window->setLiveStream(true);
            window->setLiveStreamDetails(recorder->liveStreamPresentationId(),
                                         recorder->liveStreamPresentationTitle());
        } else {
            window->setLiveStreamDetails(QString(), recorder->liveStreamPresentationTitle());
            window->setLiveStream(false);
        }
    });
    connect(recorder, &Recorder::stopped, window, [this, window]() {
        window->setRecording(false);
        window->showSlides({});
        window->reloadPresentations();
        if (m_quitWhenStopped) {
            // The sound server's client library needs a moment after the audio input stopped.
            QTimer::singleShot(200, this, [] { QCoreApplication::quit(); });
        }
    });
    connect(recorder, &Recorder::startFailed, window, &MainWindow::showStartFailed);
    connect(window, &MainWindow::closeRequested, this, &Application::quitAfterRecording);
    connect(recorder, &Recorder::slidesCapturedSignal, window, &MainWindow::showSlides);
    connect(recorder, &Recorder::liveStreamStartFailed, window,
            &MainWindow::showLiveStreamStartFailed);
    connect(recorder, &Recorder::slidesFrozenChanged, window,
            [window, recorder]() { window->setSlidesFrozen(recorder->slidesFrozen()); });
    connect(recorder, &Recorder::missingDevicesChanged, window,
            [window, recorder]() { window->setMissingDevices(recorder->missingDevices()); });
    connect(recorder, &Recorder::slidesResolutionsChanged, window,
            [window, recorder]() { window->setSlidesResolutions(recorder->slidesResolutions()); });
    connect(recorder, &Recorder::slidesCapturedChanged, window,
            [window, recorder]() { window->setSlidesCaptured(recorder->slidesCaptured()); });
    connect(recorder, &Recorder::slidesSavedChanged, window,
            [window, recorder]() { window->setSlidesSaved(recorder->slidesSaved()); });
    connect(recorder, &Recorder::slidesToUploadChanged, window,
            [window, recorder]() { window->setSlidesToUpload(recorder->slidesToUpload()); });
    connect(recorder, &Recorder::slidesUploadedChanged, window,
            [window, recorder]() { window->setSlidesUploaded(recorder->slidesUploaded()); });
    connect(recorder, &Recorder::slidesUploadFailedChanged, window, [window, recorder]() {
        window->setSlidesUploadFailed(recorder->slidesUploadFailed());
    });
    connect(recorder, &Recorder::slideInfoWebSuccessCountChanged, window, [window, recorder]() {
        window->setSlideInfoWebSuccessCount(recorder->slideInfoWebSuccessCount());
    });
    connect(recorder, &Recorder::slideInfoWebFailCountChanged, window, [window, recorder]() {
        window->setSlideInfoWebFailCount(recorder->slideInfoWebFailCount());
    });
    connect(recorder, &Recorder::lastSlideInfoWebSuccessChanged, window, [window, recorder]() {
        window->setLastSlideInfoWebSuccess(recorder->lastSlideInfoWebSuccess());
    });
    connect(recorder, &Recorder::lastSlideInfoWebErrorChanged, window, [window, recorder]() {
        window->setLastSlideInfoWebError(recorder->lastSlideInfoWebError());
    });
    connect(recorder, &Recorder::lastSlideInfoWebErrorStringChanged, window, [window, recorder]() {
        window->setLastSlideInfoWebErrorString(recorder->lastSlideInfoWebErrorString());
    });
    connect(recorder, &Recorder::mousePositionChanged, window, [window, recorder]() {
        window->setMousePositionX(recorder->mousePositionX());
        window->setMousePositionY(recorder->mousePositionY());
    });
    connect(window, &MainWindow::startLiveStream, recorder,
            [recorder](bool connectToExistingLiveStream, const QString &livestreamPresentationId) {
                recorder->requestStart(true, connectToExistingLiveStream, livestreamPresentationId);
            });
    connect(window, &MainWindow::startRecording, recorder,
            [recorder]() { recorder->requestStart(false, false, QString()); });
    connect(window, &MainWindow::stopRecording, recorder, &Recorder::requestStop);
    connect(window, &MainWindow::freezeSlides, recorder, &Recorder::freezeSlides);
    connect(window, &MainWindow::captureSlide, recorder, &Recorder::captureSlide);
    WebApi *webApi = WebApi::instance();
    connect(webApi, &WebApi::loginFailed, window, &MainWindow::loginFailed);
    connect(webApi, &WebApi::loginSuccessful, window, &MainWindow::loginSuccessful);
    connect(window, &MainWindow::login, webApi,
            [webApi](const QString &email, const QString &password) {
                webApi->login(email, password);
            });
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, LoginSettings::instance(),
            []() { LoginSettings::instance()->save(); });
}
