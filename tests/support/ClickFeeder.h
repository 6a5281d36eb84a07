#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

// Feeds the test sound server's FIFO source like a sound card with a clock of its own: a short
// click in the middle of every second of wall time, counted in the card's own samples, which may
// run faster or slower than the wall clock; during a pause nothing is delivered and the samples
// due meanwhile are lost, as in a dropout.
class ClickFeeder : public QObject
{
    Q_OBJECT

public:
    explicit ClickFeeder(const QString &fifo, QObject *parent = nullptr);
    ~ClickFeeder() override;

    // Samples per wall-clock second relative to 48000.
    void setSpeed(double speed) { m_speed = speed; }
    // Milliseconds after start().
    void setPause(qint64 fromMs, qint64 lengthMs);
    bool start();
    // Opens the FIFO again, on the same clock: a source module loaded anew makes a new FIFO.
    // Until then, and while nobody reads it, the samples due are lost.
    bool reopen();

    // Milliseconds after start() at which click number index is due, and whether it is delivered.
    [[nodiscard]] static qint64 clickMs(int index) { return index * 1000 + 500; }
    [[nodiscard]] bool clickDelivered(int index) const;

    static constexpr int clickLengthMs = 10;

private:
    bool open();
    void feed();
    [[nodiscard]] qint64 sampleDueAt(double ms) const;
    [[nodiscard]] bool clickAt(qint64 sample) const;

    QString m_path;
    QFile m_fifo;
    QTimer m_timer;
    QElapsedTimer m_clock;
    double m_speed = 1.0;
    qint64 m_pauseFromMs = -1;
    qint64 m_pauseLengthMs = 0;
    qint64 m_samplesDone = 0;
};
