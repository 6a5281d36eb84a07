#pragma once

#include "MouseHookWindows.h"
#include "MouseListenerPrivate.h"

#include <QtGlobal>

#include <cstdint>

// Pointer positions from the system-wide low-level mouse hook. Only one listener of the process
// can hold the hook; a listener started while another holds it stays silent until it is stopped.
class MouseListenerPrivateWindows : public MouseListenerPrivate, private MouseHookWindows::Receiver
{
    Q_OBJECT

public:
    explicit MouseListenerPrivateWindows(QObject *parent = nullptr);
    ~MouseListenerPrivateWindows() override;

    [[nodiscard]] bool isRunning() const override;
    [[nodiscard]] bool isStopped() const override;

    // The installed hook (HHOOK), null when none is installed.
    [[nodiscard]] void *hook() const { return m_hook.handle(); }
    [[nodiscard]] qint64 lastPositionX() const { return m_lastPositionX; }
    [[nodiscard]] qint64 lastPositionY() const { return m_lastPositionY; }

public slots:
    void start() override;
    void requestStop() override;
    void emitMousePositionChanged(qint64 time, qint64 x, qint64 y);

private:
    void stop();
    void mouseMoved(std::int32_t x, std::int32_t y) override;

    // The listener that took the hook; the hook procedure has no other way to reach it.
    static MouseListenerPrivateWindows *m_currentInstance;

    MouseHookWindows m_hook;
    bool m_stopRequested = false;
    qint64 m_lastPositionX = -1;
    qint64 m_lastPositionY = -1;
};
