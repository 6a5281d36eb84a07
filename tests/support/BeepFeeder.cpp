#include "BeepFeeder.h"

#include <QtEndian>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>

namespace {
constexpr int sampleRate = 48000;
// Samples kept written ahead of the wall clock: enough to never run dry, small enough that a
// beep is heard almost at once.
constexpr int aheadSamples = sampleRate * 30 / 1000;
} // namespace

BeepFeeder::BeepFeeder(const QString &fifo, QObject *parent) : QObject(parent), m_fifo(fifo)
{
    m_timer.setInterval(5);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &BeepFeeder::feed);
}

BeepFeeder::~BeepFeeder()
{
    m_timer.stop();
}

bool BeepFeeder::start()
{
    // Never block on a full FIFO: a sound server that stopped reading must not hang the test.
    const int fd = ::open(QFile::encodeName(m_fifo.fileName()).constData(), O_WRONLY | O_NONBLOCK);
    if (fd < 0 || !m_fifo.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                               QFileDevice::AutoCloseHandle))
        return false;
    m_clock.start();
    m_timer.start();
    feed();
    return true;
}

void BeepFeeder::beep(int milliseconds)
{
    m_beepSamplesLeft = qint64(sampleRate) * milliseconds / 1000;
}

void BeepFeeder::feed()
{
    const qint64 due = m_clock.elapsed() * sampleRate / 1000 + aheadSamples;
    const qint64 count = due - m_samplesWritten;
    if (count <= 0)
        return;
    QByteArray bytes(count * 2, Qt::Uninitialized);
    for (qint64 i = 0; i < count; ++i) {
        qint16 sample = 0;
        if (m_beepSamplesLeft > 0) {
            sample = qint16(20000 * std::sin(2 * M_PI * 1000.0 * double(m_phase++) / sampleRate));
            --m_beepSamplesLeft;
        }
        qToLittleEndian(sample, bytes.data() + 2 * i);
    }
    m_fifo.write(bytes);
    m_samplesWritten = due;
}
