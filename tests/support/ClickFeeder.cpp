#include "ClickFeeder.h"

#include <QtEndian>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>

namespace {
constexpr int sampleRate = 48000;
constexpr qint16 clickLevel = 16384;
} // namespace

ClickFeeder::ClickFeeder(const QString &fifo, QObject *parent) : QObject(parent), m_path(fifo)
{
    m_timer.setInterval(2);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &ClickFeeder::feed);
}

ClickFeeder::~ClickFeeder()
{
    m_timer.stop();
}

void ClickFeeder::setPause(qint64 fromMs, qint64 lengthMs)
{
    m_pauseFromMs = fromMs;
    m_pauseLengthMs = lengthMs;
}

bool ClickFeeder::open()
{
    // Never block on a full FIFO: a sound server that stopped reading must not hang the test.
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_NONBLOCK);
    if (fd < 0)
        return false;
    if (!m_fifo.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                     QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

bool ClickFeeder::start()
{
    if (!open())
        return false;
    m_clock.start();
    m_timer.start();
    return true;
}

bool ClickFeeder::reopen()
{
    m_fifo.close();
    return open();
}

bool ClickFeeder::clickDelivered(int index) const
{
    const qint64 from = clickMs(index);
    const qint64 to = from + clickLengthMs;
    return m_pauseFromMs < 0 || to <= m_pauseFromMs || from >= m_pauseFromMs + m_pauseLengthMs;
}

qint64 ClickFeeder::sampleDueAt(double ms) const
{
    return qint64(std::floor(ms * sampleRate * m_speed / 1000.0));
}

bool ClickFeeder::clickAt(qint64 sample) const
{
    // Click k starts at the card's sample for k seconds and a half of wall time.
    const double perSecond = sampleRate * m_speed;
    const double sinceStart = std::fmod(double(sample) - perSecond / 2, perSecond);
    return sample >= qint64(perSecond / 2) && sinceStart >= 0 &&
           sinceStart < double(sampleRate) * clickLengthMs / 1000;
}

void ClickFeeder::feed()
{
    const double nowMs = double(m_clock.nsecsElapsed()) / 1e6;
    const qint64 due = sampleDueAt(nowMs);
    if (m_pauseFromMs >= 0 && nowMs >= m_pauseFromMs && nowMs < m_pauseFromMs + m_pauseLengthMs) {
        m_samplesDone = due;
        return;
    }
    const qint64 count = due - m_samplesDone;
    if (count <= 0)
        return;
    QByteArray bytes(count * 2, Qt::Uninitialized);
    for (qint64 i = 0; i < count; ++i)
        qToLittleEndian(clickAt(m_samplesDone + i) ? clickLevel : qint16(0), bytes.data() + 2 * i);
    if (m_fifo.isOpen())
        m_fifo.write(bytes);
    m_samplesDone = due;
}
