#include "TerminationSignalsLinux.h"

#include <QDebug>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalSockets[2] = {-1, -1};

void onSignal(int signalNumber)
{
    const unsigned char number = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalSockets[0], &number, 1);
}

} // namespace

std::unique_ptr<TerminationSignals> TerminationSignals::create(QObject *parent)
{
    auto watcher = std::make_unique<TerminationSignalsLinux>(parent);
    if (!watcher->isValid())
        return nullptr;
    return watcher;
}

TerminationSignalsLinux::TerminationSignalsLinux(QObject *parent) : TerminationSignals(parent)
{
    if (signalSockets[0] != -1) {
        qWarning() << "[TerminationSignals]"
                   << "only one watcher per process";
        return;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalSockets) != 0) {
        qWarning() << "[TerminationSignals]"
                   << "socketpair failed";
        signalSockets[0] = signalSockets[1] = -1;
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(signalSockets[1], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this,
            &TerminationSignalsLinux::readSignal);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

TerminationSignalsLinux::~TerminationSignalsLinux()
{
    if (!m_notifier)
        return;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    m_notifier.reset();
    ::close(signalSockets[0]);
    ::close(signalSockets[1]);
    signalSockets[0] = signalSockets[1] = -1;
}

void TerminationSignalsLinux::readSignal()
{
    unsigned char number = 0;
    if (::read(signalSockets[1], &number, 1) == 1)
        Q_EMIT terminationRequested(number);
}
