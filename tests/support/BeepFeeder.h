#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

// Feeds the test sound server's FIFO source in real time: silence, and on request a short tone,
// so that a recording of that source hears the tone within a few milliseconds.
class BeepFeeder : public QObject
{
    Q_OBJECT

public:
    explicit BeepFeeder(const QString &fifo, QObject *parent = nullptr);
    ~BeepFeeder() override;

    bool start();
    // The next samples written are a 1 kHz tone of the given length.
    void beep(int milliseconds = 150);

private:
    void feed();

    QFile m_fifo;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_samplesWritten = 0;
    qint64 m_beepSamplesLeft = 0;
    qint64 m_phase = 0;
};
