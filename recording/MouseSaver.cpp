#include "MouseSaver.h"

#include "PresentationFile.h"

#include <QDebug>
#include <QMutexLocker>

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
    if (m_queue.size() >= maxQueuedPositions) {
        if (m_coalescedPositions++ == 0)
            qInfo() << "[MouseSaver]"
                    << "queue full, keeping only the latest position until it drains";
        m_queue.last() = {time, x, y};
        return;
    }
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
            if (m_coalescedPositions > 0) {
                qInfo() << "[MouseSaver]"
                        << "queue drained," << m_coalescedPositions << "positions were merged";
                m_coalescedPositions = 0;
            }
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
        if (save(position))
            Q_EMIT mousePositionSaved(position.time, position.x, position.y);
    }
}

bool MouseSaver::save(const MousePositionToSave &position)
{
    if (m_writeFailed)
        return false;
    // Opened and closed for every line, so the file is complete on disk after each one.
    const QByteArray line = QByteArray::number(position.time) + ' ' +
                            QByteArray::number(position.x) + ' ' + QByteArray::number(position.y) +
                            '\n';
    QString error;
    if (PresentationFile::append(
            m_directory.absoluteFilePath(QStringLiteral("mouse_positions.txt")), line, &error))
        return true;
    m_writeFailed = true;
    qWarning().noquote() << "[MouseSaver]" << error;
    Q_EMIT writeFailed(error);
    return false;
}
