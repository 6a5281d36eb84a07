#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

// Runs one of the built programs as a child process and collects what it prints.
class ProgramRun
{
public:
    explicit ProgramRun(const QString &program);
    ~ProgramRun();

    ProgramRun(const ProgramRun &) = delete;
    ProgramRun &operator=(const ProgramRun &) = delete;

    void setEnvironment(const QProcessEnvironment &environment);
    void setWorkingDirectory(const QString &dir);
    // Runs the program through another one (e.g. setpriv to drop root), which gets prefix first.
    void setWrapper(const QString &wrapper, const QStringList &prefix);

    bool start(const QStringList &arguments);
    // Waits (running the event loop) until condition() holds or the time is up.
    bool waitFor(const std::function<bool()> &condition, int timeoutMs);
    bool waitForOutput(const QString &text, int timeoutMs);
    bool waitForFinished(int timeoutMs);
    // SIGTERM, then SIGKILL if it does not end in time.
    void terminate(int timeoutMs = 10000);

    QProcess &process() { return m_process; }
    QString standardOutput();
    QString standardError();
    [[nodiscard]] int exitCode() const { return m_process.exitCode(); }
    [[nodiscard]] QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }

private:
    void collect();

    QString m_program;
    QString m_wrapper;
    QStringList m_prefix;
    QProcess m_process;
    QByteArray m_stdout;
    QByteArray m_stderr;
};
