#include "MouseListenerPrivateWindows.h"

#include <QDebug>
#include <QMetaObject>
#include <QTimer>

MouseListenerPrivateWindows *MouseListenerPrivateWindows::m_currentInstance = nullptr;

MouseListenerPrivateWindows::MouseListenerPrivateWindows(QObject *parent)
    : MouseListenerPrivate(parent)
{}

MouseListenerPrivateWindows::~MouseListenerPrivateWindows()
{
    m_hook.remove();
    // A later listener must be able to take the hook.
    if (m_currentInstance == this)
        m_currentInstance = nullptr;
}

bool MouseListenerPrivateWindows::isRunning() const
{
    return !m_stopRequested && m_currentInstance == this;
}

bool MouseListenerPrivateWindows::isStopped() const
{
    return !m_stopRequested && m_currentInstance != this;
}

void MouseListenerPrivateWindows::start()
{
    if (m_currentInstance != nullptr) {
        qDebug() << "[MouseListenerPrivateWindows] m_currentInstance is already set.";
        return;
    }
    m_currentInstance = this;
    restartTimer();
    qDebug() << "[MouseListenerPrivateWindows] createHook";
    if (!m_hook.install(this))
        qDebug() << "[MouseListenerPrivateWindows] SetWindowsHookEx failed.";
}

void MouseListenerPrivateWindows::requestStop()
{
    // One stop, one stopped(), however often the owners ask.
    if (m_stopRequested)
        return;
    m_stopRequested = true;
    QTimer::singleShot(0, this, &MouseListenerPrivateWindows::stop);
}

void MouseListenerPrivateWindows::stop()
{
    qDebug() << "[MouseListenerPrivateWindows] stop";
    m_hook.remove();
    m_stopRequested = false;
    // A listener that never got the hook must not take it from the one that holds it.
    if (m_currentInstance == this)
        m_currentInstance = nullptr;
    emit stopped();
}

void MouseListenerPrivateWindows::mouseMoved(std::int32_t x, std::int32_t y)
{
    // Runs inside the hook procedure, which holds up the system's input: take the time now and
    // leave everything else to the event loop.
    const qint64 time = currentMouseTime();
    QMetaObject::invokeMethod(
        this, [this, time, x, y] { emitMousePositionChanged(time, x, y); }, Qt::QueuedConnection);
}

void MouseListenerPrivateWindows::emitMousePositionChanged(qint64 time, qint64 x, qint64 y)
{
    if (m_stopRequested || (x == m_lastPositionX && y == m_lastPositionY))
        return;
    m_lastPositionX = x;
    m_lastPositionY = y;
    emit mousePositionChanged(time, x, y);
}
