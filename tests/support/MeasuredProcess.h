#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <sys/resource.h>
#include <sys/types.h>

// A child program whose own resource use is read when it ends: CPU time and peak resident memory
// of that process alone (not of the other children of the caller, such as an X server).
class MeasuredProcess
{
public:
    MeasuredProcess() = default;
    ~MeasuredProcess();
    MeasuredProcess(const MeasuredProcess &) = delete;
    MeasuredProcess &operator=(const MeasuredProcess &) = delete;

    // Starts the program with its standard error written to stderrFile.
    bool start(const QString &program, const QStringList &arguments,
               const QProcessEnvironment &environment, const QString &stderrFile);
    // Runs the event loop until the program ends or the time is up.
    bool waitForFinished(int timeoutMs);
    void terminate();

    // CPU time used so far by the running program, from /proc; -1 when it cannot be read.
    [[nodiscard]] double cpuSecondsSoFar() const;
    [[nodiscard]] static QString loadAverage();

    [[nodiscard]] pid_t pid() const { return m_pid; }
    [[nodiscard]] int exitCode() const { return m_exitCode; }
    [[nodiscard]] double wallSeconds() const { return m_wallSeconds; }
    [[nodiscard]] double cpuSeconds() const;
    [[nodiscard]] double userSeconds() const;
    [[nodiscard]] double systemSeconds() const;
    [[nodiscard]] double peakMiB() const { return double(m_usage.ru_maxrss) / 1024.0; }
    // CPU time as a share of one core over the wall time, in percent.
    [[nodiscard]] double cpuPercent() const;

private:
    pid_t m_pid = -1;
    bool m_finished = false;
    int m_exitCode = -1;
    qint64 m_startMs = 0;
    double m_wallSeconds = 0;
    rusage m_usage{};
};
