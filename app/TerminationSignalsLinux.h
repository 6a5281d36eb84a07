#pragma once

#include "TerminationSignals.h"

#include <QSocketNotifier>

#include <memory>

// SIGINT/SIGTERM through a socket pair: the handler only writes the signal number, the event
// loop reads it.
class TerminationSignalsLinux : public TerminationSignals
{
    Q_OBJECT

public:
    explicit TerminationSignalsLinux(QObject *parent = nullptr);
    ~TerminationSignalsLinux() override;

    [[nodiscard]] bool isValid() const { return m_notifier != nullptr; }

private:
    void readSignal();

    std::unique_ptr<QSocketNotifier> m_notifier;
};
