#include "ProgramRun.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

ProgramRun::ProgramRun(const QString &program) : m_program(program) {}

ProgramRun::~ProgramRun()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

void ProgramRun::setEnvironment(const QProcessEnvironment &environment)
{
    m_process.setProcessEnvironment(environment);
}

void ProgramRun::setWorkingDirectory(const QString &dir)
{
    m_process.setWorkingDirectory(dir);
}

void ProgramRun::setWrapper(const QString &wrapper, const QStringList &prefix)
{
    m_wrapper = wrapper;
    m_prefix = prefix;
}

bool ProgramRun::start(const QStringList &arguments)
{
    if (m_wrapper.isEmpty()) {
        m_process.start(m_program, arguments);
    } else {
        QStringList all = m_prefix;
        all << m_program << arguments;
        m_process.start(m_wrapper, all);
    }
    return m_process.waitForStarted(10000);
}

void ProgramRun::collect()
{
    m_stdout += m_process.readAllStandardOutput();
    m_stderr += m_process.readAllStandardError();
}

bool ProgramRun::waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        collect();
        if (condition())
            return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        m_process.waitForReadyRead(20);
    }
    collect();
    return condition();
}

bool ProgramRun::waitForOutput(const QString &text, int timeoutMs)
{
    return waitFor([this, &text] { return QString::fromUtf8(m_stdout).contains(text); }, timeoutMs);
}

bool ProgramRun::waitForFinished(int timeoutMs)
{
    const bool finished =
        waitFor([this] { return m_process.state() == QProcess::NotRunning; }, timeoutMs);
    collect();
    return finished;
}

void ProgramRun::terminate(int timeoutMs)
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!waitForFinished(timeoutMs)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    collect();
}

QString ProgramRun::standardOutput()
{
    collect();
    return QString::fromUtf8(m_stdout);
}

QString ProgramRun::standardError()
{
    collect();
    return QString::fromUtf8(m_stderr);
}
