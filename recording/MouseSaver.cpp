#include "MouseSaver.h"

#include <QFile>
#include <QMutexLocker>
#include <QTextStream>

MouseSaver::MouseSaver(const QDir &directory, QObject *parent)
    : QThread(parent), m_directory(directory)
{}

MouseSaver::~MouseSaver()
{
    requestStop();
    wait();
}

bool MouseSaver::isRunning() const
{
    QMutexLocker locker(&m_mutex);
    return !m_stopRequested && !m_loopEnded && QThread::isRunning();
}

bool MouseSaver::isStopped() const
{
    QMutexLocker locker(&m_mutex);
    return !m_stopRequested && !QThread::isRunning();
}

void MouseSaver::addPosition(qint64 time, qint64 x, qint64 y)
{
    QMutexLocker locker(&m_mutex);
    if (m_stopRequested)
        return;
    m_queue.append({time, x, y});
    m_wakeUp.wakeOne();
}

void MouseSaver::requestStop()
{
    QMutexLocker locker(&m_mutex);
    if (m_stopRequested || m_loopEnded || !QThread::isRunning())
        return;
    m_stopRequested = true;
    m_wakeUp.wakeOne();
}

void MouseSaver::run()
{
    forever
    {
        QMutexLocker locker(&m_mutex);
        while (m_queue.isEmpty()) {
            if (m_stopRequested) {
                m_stopRequested = false;
                m_loopEnded = true;
                locker.unlock();
                Q_EMIT stopped();
                return;
            }
            m_wakeUp.wait(&m_mutex);
        }
        const MousePositionToSave position = m_queue.takeFirst();
        locker.unlock();
        save(position);
        Q_EMIT mousePositionSaved(position.time, position.x, position.y);
    }
}

void MouseSaver::save(const MousePositionToSave &position) const
{
    // Opened and closed for every line, so the file is complete on disk after each one.
    QFile file(m_directory.absoluteFilePath(QStringLiteral("mouse_positions.txt")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return;
    QTextStream out(&file);
    out << position.time << ' ' << position.x << ' ' << position.y << '\n';
}
