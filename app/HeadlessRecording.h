#pragma once

#include "CommandLineOptions.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class Recorder;
class TerminationSignals;

// One recording without a window, for unattended use: chooses the sources asked for, starts the
// recorder (logging in first for a live stream), stops after the duration or on SIGINT/SIGTERM,
// and quits the application with the exit status.
class HeadlessRecording : public QObject
{
    Q_OBJECT

public:
    enum ExitStatus
    {
        Success = 0,
        CannotStart = 1,
        UsageError = 2
    };

    HeadlessRecording(const CommandLineOptions &options, Recorder *recorder,
                      QObject *parent = nullptr);
    ~HeadlessRecording() override;

    // Runs the listing or the recording; the application quits when it is done.
    void run();

private:
    void listSources();
    void applySourceChoices();
    void authenticate();
    void startRecording();
    void onStarted();
    void onStopped();
    void armDurationTimer();
    void requestStop();
    void fail(const QString &reason);
    void finish(int status);

    CommandLineOptions m_options;
    Recorder *m_recorder;
    std::unique_ptr<TerminationSignals> m_terminationSignals;
    // A timer's interval is an int of milliseconds: a long duration is waited for in steps.
    QTimer m_durationTimer;
    QDeadlineTimer m_durationDeadline;
    QString m_missingDevices;
    QString m_liveStreamStartFailure;
    QString m_failure;
    bool m_started = false;
    bool m_finishing = false;
};
