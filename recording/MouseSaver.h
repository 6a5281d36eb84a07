#pragma once

#include <QDir>
#include <QList>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

struct MousePositionToSave
{
    qint64 time = 0;
    qint64 x = 0;
    qint64 y = 0;
};

// Appends pointer positions to "mouse_positions.txt" on a thread of its own. A stop ends the
// thread only once every position accepted before it has been written.
//
// The queue is bounded: when the disk falls behind, new positions replace the newest queued one
// instead of piling up, so the pointer's way through a stall collapses into one jump. The first
// failed write is reported by writeFailed(); positions are then no longer written, and what the
// file holds stays whole.
class MouseSaver : public QThread
{
    Q_OBJECT

public:
    static constexpr qsizetype maxQueuedPositions = 10000;

    explicit MouseSaver(const QDir &directory, QObject *parent = nullptr);
    ~MouseSaver() override;

    [[nodiscard]] bool isRunning() const;
    [[nodiscard]] bool isStopped() const;

Q_SIGNALS:
    void mousePositionSavingError(QString message);
    void mousePositionSaved(qint64 time, qint64 x, qint64 y);
    void stopped();
    void writeFailed(QString message);

public Q_SLOTS:
    void addPosition(qint64 time, qint64 x, qint64 y);
    void requestStop();

protected:
    void run() override;

private:
    bool save(const MousePositionToSave &position);

    bool m_stopRequested = false;
    // Set when run() leaves its loop; the thread object cannot be started again.
    bool m_loopEnded = false;
    QWaitCondition m_wakeUp;
    mutable QMutex m_mutex;
    QList<MousePositionToSave> m_queue;
    QDir m_directory;
    // Positions merged into the newest queued one since the queue was last empty.
    qint64 m_coalescedPositions = 0;
    // Saver thread only.
    bool m_writeFailed = false;
};
