#include "MouseRecorder.h"

#include "MouseListenerPrivate.h"
#include "MouseSaver.h"
#include "Presentation.h"

#include <QDebug>

MouseRecorder::MouseRecorder(QObject *parent) : QObject(parent)
{
    m_startTimer.setSingleShot(true);
    m_startTimer.setInterval(startDelayMs);
    connect(&m_startTimer, &QTimer::timeout, this, &MouseRecorder::start);
}

MouseRecorder::~MouseRecorder()
{
    // The listener goes first: nothing may post positions into a saver being torn down.
    m_listener.reset();
    m_saver.reset();
}

void MouseRecorder::setState(State state)
{
    m_state = state;
    Q_EMIT property_stateChanged(state);
}

void MouseRecorder::requestStart(Presentation *presentation)
{
    if (m_state != Stopped) {
        qWarning() << "[MouseRecorder] requestStart ignored in state" << m_state;
        return;
    }
    setState(Starting);
    m_presentation = presentation;
    m_startTimer.start();
}

void MouseRecorder::start()
{
    if (m_state == Stopping) {
        // Stopped during the start delay: nothing was started, so the stop is complete.
        m_presentation = nullptr;
        setState(Stopped);
        Q_EMIT stopped();
        return;
    }
    if (m_state != Starting || !m_presentation)
        return;

    m_listener = MouseListenerPrivate::create();
    m_saver = std::make_unique<MouseSaver>(m_presentation->dir());
    connect(m_listener.get(), &MouseListenerPrivate::mousePositionChanged, m_saver.get(),
            &MouseSaver::addPosition);
    connect(m_listener.get(), &MouseListenerPrivate::mousePositionChanged, this,
            [this](qint64 time, qint64 x, qint64 y) {
                m_positionX = x;
                m_positionY = y;
                Q_EMIT mousePositionChanged(time, x, y);
            });
    // Queued: the completion deletes the listener, which must not happen inside its own signal.
    connect(m_listener.get(), &MouseListenerPrivate::stopped, this,
            &MouseRecorder::mouseListenerStopped, Qt::QueuedConnection);
    connect(m_saver.get(), &MouseSaver::stopped, this, &MouseRecorder::mouseSaverStopped);
    connect(m_saver.get(), &MouseSaver::writeFailed, this, &MouseRecorder::writeFailed);

    m_saver->start();
    m_listener->start();
    m_listener->restartTimer();

    setState(Started);
    Q_EMIT started();
}

void MouseRecorder::restartMouseTimer()
{
    if (m_state == Started && m_listener)
        m_listener->restartTimer();
}

void MouseRecorder::requestStop()
{
    if (m_state == Starting) {
        // The pending start finishes the stop.
        setState(Stopping);
        return;
    }
    if (m_state != Started)
        return;
    setState(Stopping);
    m_listener->requestStop();
    m_saver->requestStop();
}

void MouseRecorder::mouseListenerStopped()
{
    checkStopped();
}

void MouseRecorder::mouseSaverStopped()
{
    if (m_state == Stopped || !m_saver)
        return;
    // The saver reports just before its thread returns: wait for that return, so that the thread
    // has really ended when the stop completes and the saver is deleted.
    m_saver->wait();
    checkStopped();
}

void MouseRecorder::checkStopped()
{
    if (m_state == Stopped || !m_listener || !m_saver)
        return;
    if (m_listener->isRunning())
        m_listener->requestStop();
    if (m_saver->isRunning())
        m_saver->requestStop();
    if (!m_listener->isStopped() || !m_saver->isStopped())
        return;
    m_listener.reset();
    m_saver.reset();
    m_presentation = nullptr;
    setState(Stopped);
    Q_EMIT stopped();
}
