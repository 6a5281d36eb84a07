#pragma once

#include "CommandLineOptions.h"
#include "Recorder.h"

#include <QDir>
#include <QObject>
#include <QPointer>

#include <memory>

class HeadlessRecording;
class MainWindow;
class TerminationSignals;

// The recorder's top-level object: prepares the data directory and starts everything else from
// run(), the first event of the event loop.
class Application : public QObject
{
    Q_OBJECT

public:
    explicit Application(QObject *parent = nullptr);
    ~Application() override;

    static Application *instance();

    // Must be called before run(); the defaults are those of a plain start.
    void setOptions(const CommandLineOptions &options);

    static bool initializeWorkDir(const QString &dataDirOverride = QString());

    // The data directory for a program living in programDir: its parent when the program sits in
    // an "...app" directory beside the launcher, else programDir itself.
    static QDir dataDirectoryFor(const QString &programDir);
    static QString launcherFileName();

    [[nodiscard]] Recorder *recorder() { return &m_recorder; }

public Q_SLOTS:
    void run();

private:
    static void loadSettings();
    void runHeadless();
    void connectMainWindow();
    // Closing the window or a termination signal during a recording ends it as the Stop button
    // does, and the program quits once every file is finished.
    void quitAfterRecording();

    MainWindow *m_mainWindow = nullptr;
    Recorder m_recorder;
    CommandLineOptions m_options;
    std::unique_ptr<HeadlessRecording> m_headlessRecording;
    std::unique_ptr<TerminationSignals> m_terminationSignals;
    bool m_quitWhenStopped = false;

    static Application *s_instance;
};
