#include "MouseListenerPrivateNull.h"

#include <QDebug>
#include <QTimer>

MouseListenerPrivateNull::MouseListenerPrivateNull(const QString &reason, QObject *parent)
    : MouseListenerPrivate(parent), m_reason(reason)
{}

void MouseListenerPrivateNull::start()
{
    qInfo().noquote() << "[MouseListenerPrivateNull] pointer positions are not recorded:"
                      << m_reason;
    m_running = true;
    restartTimer();
}

void MouseListenerPrivateNull::requestStop()
{
    if (m_stopRequested)
        return;
    m_stopRequested = true;
    QTimer::singleShot(0, this, &MouseListenerPrivateNull::stop);
}

void MouseListenerPrivateNull::stop()
{
    m_running = false;
    m_stopRequested = false;
    Q_EMIT stopped();
}
