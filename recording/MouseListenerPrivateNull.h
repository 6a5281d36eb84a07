#pragma once

#include "MouseListenerPrivate.h"

// Stands in where pointer movements cannot be observed: it starts and stops like a real listener
// but never reports a position.
class MouseListenerPrivateNull : public MouseListenerPrivate
{
    Q_OBJECT

public:
    explicit MouseListenerPrivateNull(const QString &reason, QObject *parent = nullptr);

    [[nodiscard]] bool isRunning() const override { return m_running && !m_stopRequested; }
    [[nodiscard]] bool isStopped() const override { return !m_running && !m_stopRequested; }

public Q_SLOTS:
    void start() override;
    void requestStop() override;

private:
    void stop();

    QString m_reason;
    bool m_running = false;
    bool m_stopRequested = false;
};
