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
class MouseSaver : public QThread
{
    Q_OBJECT

public:
    explicit MouseSaver(const QDir &directory, QObject *parent = nullptr);
    ~MouseSaver() override;

    [[nodiscard]] bool isRunning() const;
    [[nodiscard]] bool isStopped() const;

Q_SIGNALS:
    void mousePositionSavingError(QString message);
    void mousePositionSaved(qint64 time, qint64 x, qint64 y);
    void stopped();

public Q_SLOTS:
    void addPosition(qint64 time, qint64 x, qint64 y);
    void requestStop();

protected:
    void run() override;

private:
    void save(const MousePositionToSave &position) const;

    bool m_stopRequested = false;
    // Set when run() leaves its loop; the thread object cannot be started again.
    bool m_loopEnded = false;
    QWaitCondition m_wakeUp;
    mutable QMutex m_mutex;
    QList<MousePositionToSave> m_queue;
    QDir m_directory;
};
