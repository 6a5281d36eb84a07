#pragma once

#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QRect>
#include <QTimer>

class Presentation;
class QScreen;

QJsonObject rectToJson(const QRect &rect);
QJsonObject screenToJson(qint64 index, QScreen *screen);

// Writes the layout of all screens to "screens_geometry.txt" of the presentation: when the clock
// is restarted (the audio started) and whenever a screen comes, goes or changes. The first failed
// write is reported by writeFailed(); nothing more is written in that recording, and the file
// keeps only whole snapshots.
class ScreenGeometryRecorder : public QObject
{
    Q_OBJECT
    Q_PROPERTY(ScreenGeometryRecorder::State state READ state NOTIFY property_stateChanged)

public:
    enum State
    {
        Stopped = 0,
        Started = 1,
        Stopping = 2,
        Starting = 3,
    };
    Q_ENUM(State)

    explicit ScreenGeometryRecorder(QObject *parent = nullptr);
    ~ScreenGeometryRecorder() override;

    [[nodiscard]] State state() const { return m_state; }

    void restartRecordingTimer();
    void start();
    void stop();
    void checkStop();

    static constexpr int startDelayMs = 100;
    static constexpr int stopDelayMs = 100;

Q_SIGNALS:
    void started();
    void stopped();
    void property_stateChanged(ScreenGeometryRecorder::State state);
    // screens_geometry.txt could not be written: fatal for the recording, which should be stopped.
    void writeFailed(QString message);

public Q_SLOTS:
    void requestStart(Presentation *presentation);
    void requestStop();

private Q_SLOTS:
    void saveScreenGeometry();

private:
    void setState(State state);
    void connectScreen(QScreen *screen);
    void disconnectAll();

    State m_state = Stopped;
    Presentation *m_presentation = nullptr;
    QElapsedTimer m_recordingTimer;
    QList<QMetaObject::Connection> m_connections;
    QTimer m_startTimer;
    QTimer m_stopTimer;
    bool m_writeFailed = false;
};
