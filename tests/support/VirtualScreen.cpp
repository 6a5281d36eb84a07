#include "VirtualScreen.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

namespace {

QString socketPath(int number)
{
    return QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
}

} // namespace

VirtualScreen::~VirtualScreen()
{
    stop();
}

bool VirtualScreen::start(int width, int height)
{
    int number = 90;
    while (number < 160 && (QFile::exists(socketPath(number)) ||
                            QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number))))
        ++number;
    m_display = QStringLiteral(":%1").arg(number);
    m_xvfb.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_xvfb.start(QStringLiteral("Xvfb"),
                 {m_display, "-screen", "0", QStringLiteral("%1x%2x24").arg(width).arg(height),
                  "-noreset", "-nolisten", "tcp"});
    if (!m_xvfb.waitForStarted())
        return false;
    const QDeadlineTimer deadline(20000);
    while (!QFile::exists(socketPath(number))) {
        if (deadline.hasExpired() || m_xvfb.state() != QProcess::Running)
            return false;
        QThread::msleep(50);
    }
    // The socket appears before the server answers; a client that succeeds tells it does.
    while (!run(QStringLiteral("xsetroot"), {QStringLiteral("-solid"), QStringLiteral("black")})) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    return true;
}

void VirtualScreen::stop()
{
    if (m_xvfb.state() == QProcess::NotRunning)
        return;
    m_xvfb.terminate();
    if (!m_xvfb.waitForFinished(5000)) {
        m_xvfb.kill();
        m_xvfb.waitForFinished(5000);
    }
}

QProcessEnvironment VirtualScreen::environment(QProcessEnvironment base) const
{
    base.insert(QStringLiteral("DISPLAY"), m_display);
    return base;
}

bool VirtualScreen::run(const QString &program, const QStringList &arguments) const
{
    QProcess process;
    process.setProcessEnvironment(environment(QProcessEnvironment::systemEnvironment()));
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}
