#include "MeasuredProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

qint64 nowMs()
{
    QElapsedTimer clock;
    clock.start();
    return clock.msecsSinceReference();
}

double seconds(const timeval &value)
{
    return double(value.tv_sec) + double(value.tv_usec) / 1e6;
}

} // namespace

MeasuredProcess::~MeasuredProcess()
{
    if (m_pid > 0 && !m_finished) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

bool MeasuredProcess::start(const QString &program, const QStringList &arguments,
                            const QProcessEnvironment &environment, const QString &stderrFile)
{
    std::vector<QByteArray> storage;
    storage.push_back(QFile::encodeName(program));
    for (const QString &argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    const size_t argumentCount = storage.size();
    for (const QString &entry : environment.toStringList())
        storage.push_back(entry.toLocal8Bit());
    std::vector<char *> argv;
    std::vector<char *> envp;
    for (size_t i = 0; i < storage.size(); ++i)
        (i < argumentCount ? argv : envp).push_back(storage[i].data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray errorPath = QFile::encodeName(stderrFile);
    posix_spawn_file_actions_addopen(&actions, 2, errorPath.constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    m_startMs = nowMs();
    const int result =
        posix_spawn(&m_pid, argv.front(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) {
        m_pid = -1;
        return false;
    }
    return true;
}

bool MeasuredProcess::waitForFinished(int timeoutMs)
{
    if (m_pid <= 0)
        return false;
    const QDeadlineTimer deadline(timeoutMs);
    while (!m_finished) {
        int status = 0;
        const pid_t done = wait4(m_pid, &status, WNOHANG, &m_usage);
        if (done == m_pid) {
            m_finished = true;
            m_wallSeconds = double(nowMs() - m_startMs) / 1000.0;
            m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(20);
    }
    return true;
}

void MeasuredProcess::terminate()
{
    if (m_pid > 0 && !m_finished)
        kill(m_pid, SIGTERM);
}

double MeasuredProcess::cpuSecondsSoFar() const
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(m_pid));
    if (m_pid <= 0 || m_finished || !stat.open(QIODevice::ReadOnly))
        return -1;
    // The command name may hold spaces: the fields are counted after its closing parenthesis.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    // utime and stime, fields 14 and 15 of the whole line.
    if (fields.size() < 13)
        return -1;
    const double ticks = double(sysconf(_SC_CLK_TCK));
    return (fields.at(11).toDouble() + fields.at(12).toDouble()) / ticks;
}

QString MeasuredProcess::loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

double MeasuredProcess::cpuSeconds() const
{
    return userSeconds() + systemSeconds();
}

double MeasuredProcess::userSeconds() const
{
    return seconds(m_usage.ru_utime);
}

double MeasuredProcess::systemSeconds() const
{
    return seconds(m_usage.ru_stime);
}

double MeasuredProcess::cpuPercent() const
{
    return m_wallSeconds > 0 ? 100.0 * cpuSeconds() / m_wallSeconds : 0.0;
}
