#pragma once

#include "CommandLineOptions.h"

#include <QObject>

#include <memory>

class ExportThread;
class TerminationSignals;

// `--export`: exports one presentation without a window, prints its progress on standard error
// and quits the application with 0 on success, 1 with the reason on failure or when interrupted.
class ExportCommand : public QObject
{
    Q_OBJECT

public:
    explicit ExportCommand(const CommandLineOptions &options, QObject *parent = nullptr);
    ~ExportCommand() override;

    void run();

private:
    void onProgress(int percent);
    void onFinished();

    CommandLineOptions m_options;
    std::unique_ptr<ExportThread> m_thread;
    std::unique_ptr<TerminationSignals> m_terminationSignals;
    int m_lastPrinted = -10;
};
