#include "Application.h"

#include "ErrorWindow.h"
#include "HeadlessRecording.h"
#include "LiveStreamSettings.h"
#include "Logging.h"
#include "LoginSettings.h"
#include "NetworkSettings.h"
#include "RecorderSettings.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QQmlApplicationEngine>

#include <cstdio>

Application *Application::s_instance = nullptr;

Application::Application(QObject *parent) : QObject(parent)
{
    s_instance = this;
}

Application::~Application()
{
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

    // Until the main window backend exists the recorder shows an empty main window.
    m_placeholderEngine = std::make_unique<QQmlApplicationEngine>();
    m_placeholderEngine->load(QUrl(QStringLiteral("qrc:/main.qml")));
    if (m_placeholderEngine->rootObjects().isEmpty())
        QCoreApplication::exit(1);
}
