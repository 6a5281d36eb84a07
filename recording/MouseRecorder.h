#pragma once

#include <QObject>
#include <QTimer>

#include <memory>

class MouseListenerPrivate;
class MouseSaver;
class Presentation;

// Records every pointer movement during a recording into "mouse_positions.txt" of the
// presentation, with times on the listener's clock, which the recorder restarts when audio starts.
class MouseRecorder : public QObject
{
    Q_OBJECT
    Q_PROPERTY(MouseRecorder::State state READ state NOTIFY property_stateChanged)

public:
    enum State
    {
        Stopped = 0,
        Started = 1,
        Stopping = 2,
        Starting = 3,
    };
    Q_ENUM(State)

    explicit MouseRecorder(QObject *parent = nullptr);
    ~MouseRecorder() override;

    [[nodiscard]] State state() const { return m_state; }
    [[nodiscard]] qint64 positionX() const { return m_positionX; }
    [[nodiscard]] qint64 positionY() const { return m_positionY; }

    void restartMouseTimer();

    static constexpr int startDelayMs = 100;

Q_SIGNALS:
    void started();
    void stopped();
    void mousePositionChanged(qint64 time, qint64 x, qint64 y);
    void property_stateChanged(MouseRecorder::State state);
    // mouse_positions.txt could not be written: fatal for the recording, which should be stopped.
    void writeFailed(QString message);

public Q_SLOTS:
    void requestStart(Presentation *presentation);
    void requestStop();

private Q_SLOTS:
    void mouseListenerStopped();
    void mouseSaverStopped();

private:
    void start();
    void setState(State state);
    void checkStopped();

    State m_state = Stopped;
    Presentation *m_presentation = nullptr;
    std::unique_ptr<MouseListenerPrivate> m_listener;
    std::unique_ptr<MouseSaver> m_saver;
    qint64 m_positionX = -1;
    qint64 m_positionY = -1;
    QTimer m_startTimer;
};
