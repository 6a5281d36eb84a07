#include "AudioRecorder.h"

#include "Presentation.h"
#include "RecorderSettings.h"

#include <QAudioSource>
#include <QDebug>

namespace {

// Leaving the event loop running a moment after the audio stream stopped keeps libpulse from
// crashing in a quit that follows the stop at once.
constexpr int streamWindDownMs = 200;
constexpr int firstSamplePollMs = 10;
// How long after the first samples later deliveries may still correct the silence in front.
constexpr qint64 paddingRefinementMs = 3000;

} // namespace

AudioRecorder::AudioRecorder(QObject *parent) : QObject(parent)
{
    m_startTimer.setSingleShot(true);
    m_startTimer.setInterval(0);
    connect(&m_startTimer, &QTimer::timeout, this, &AudioRecorder::start);

    m_lengthTimer.setInterval(lengthUpdateIntervalMs);
    connect(&m_lengthTimer, &QTimer::timeout, this, [this] {
        if (!m_file.isOpen())
            return;
        WavFileHeader::writeLengths(&m_file);
        m_file.flush();
    });

    m_firstSampleTimer.setTimerType(Qt::PreciseTimer);
    m_firstSampleTimer.setInterval(firstSamplePollMs);
    connect(&m_firstSampleTimer, &QTimer::timeout, this, &AudioRecorder::checkFirstSamples);

    m_finishTimer.setSingleShot(true);
    m_finishTimer.setInterval(streamWindDownMs);
    connect(&m_finishTimer, &QTimer::timeout, this, &AudioRecorder::finishStop);
}

AudioRecorder::~AudioRecorder()
{
    if (m_audioSource) {
        // The source must not report into a half-destroyed recorder.
        disconnect(m_audioSource, nullptr, this, nullptr);
        m_audioSource->stop();
    }
    finalizeFile();
    delete m_audioSource;
}

qint64 AudioRecorder::msecsSinceFirstSample() const
{
    if (!m_firstSampleClock.isValid())
        return -1;
    return m_firstSampleClock.elapsed() + m_firstSampleOffsetMs;
}

void AudioRecorder::setState(State state)
{
    m_state = state;
    Q_EMIT property_stateChanged(state);
}

void AudioRecorder::requestStart(Presentation *presentation)
{
    if (m_state != Stopped) {
        qWarning() << "[AudioRecorder] requestStart ignored in state" << m_state;
        return;
    }
    setState(Starting);
    m_presentation = presentation;
    m_firstSampleClock.invalidate();
    m_activeClock.invalidate();
    m_firstSampleOffsetMs = 0;
    m_paddingBytes = 0;
    m_startTimer.start();
}

void AudioRecorder::start()
{
    // A stop requested before this deferred start ran has already finished the recording.
    if (m_state != Starting)
        return;

    const QAudioDevice device = RecorderSettings::instance()->selectedAudioInput().audioDevice();
    if (device.isNull() || !m_presentation) {
        qDebug() << "[AudioRecorder] start without audio input";
        setState(Started);
        Q_EMIT started();
        return;
    }

    m_file.setFileName(m_presentation->dir().absoluteFilePath(QStringLiteral("audio.wav")));
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_presentation = nullptr;
        setState(Stopped);
        Q_EMIT stopped();
        return;
    }

    QAudioFormat format = device.preferredFormat();
    format.setSampleFormat(QAudioFormat::Int32);
    format.setChannelCount(RecorderSettings::instance()->audioChannelCount());
    format.setChannelConfig(QAudioFormat::ChannelConfigUnknown);
    format.setSampleRate(48000);
    if (!device.isFormatSupported(format))
        format = device.preferredFormat();
    qDebug() << "[AudioRecorder] start" << device.id() << format;

    m_header = WavFileHeader(format);
    m_header.writeHeader(&m_file);
    m_file.flush();

    m_audioSource = new QAudioSource(device, format, this);
    connect(m_audioSource, &QAudioSource::stateChanged, this,
            &AudioRecorder::handleAudioInputStateChange);
    m_lengthTimer.start();
    m_firstSampleTimer.start();
    m_audioSource->start(&m_file);

    if (m_audioSource && m_audioSource->error() != QAudio::NoError) {
        qWarning() << "[AudioRecorder] start audio error" << m_audioSource->error();
        finalizeFile();
        disconnect(m_audioSource, nullptr, this, nullptr);
        m_audioSource->deleteLater();
        m_audioSource = nullptr;
        if (m_state == Starting) {
            setState(Started);
            Q_EMIT started();
        }
    }
}

void AudioRecorder::handleAudioInputStateChange(QAudio::State state)
{
    if ((state == QAudio::ActiveState || state == QAudio::IdleState) && m_state == Starting) {
        m_activeClock.start();
        setState(Started);
        Q_EMIT started();
    } else if (state == QAudio::StoppedState && m_state == Stopping) {
        stop();
    }
}

void AudioRecorder::requestStop()
{
    // A stop already on its way finishes by itself.
    if (m_state == Stopping && (m_audioSource || m_finishTimer.isActive()))
        return;
    m_startTimer.stop();
    setState(Stopping);
    if (!m_audioSource) {
        finishStop();
        return;
    }
    if (m_audioSource->state() == QAudio::StoppedState) {
        // The stream ended by itself earlier (a device that went away): no report will follow.
        stop();
        return;
    }
    m_audioSource->stop();
}

void AudioRecorder::stop()
{
    finalizeFile();
    if (m_audioSource) {
        disconnect(m_audioSource, nullptr, this, nullptr);
        // Deleted later: this may run inside the source's own state report.
        m_audioSource->deleteLater();
        m_audioSource = nullptr;
    }
    m_finishTimer.start();
}

void AudioRecorder::finishStop()
{
    m_presentation = nullptr;
    setState(Stopped);
    Q_EMIT stopped();
}

void AudioRecorder::finalizeFile()
{
    m_lengthTimer.stop();
    m_firstSampleTimer.stop();
    if (!m_file.isOpen())
        return;
    checkFirstSamples();
    trimAheadOfTime();
    m_file.flush();
    WavFileHeader::writeLengths(&m_file);
    m_file.close();
}

void AudioRecorder::checkFirstSamples()
{
    if (!m_file.isOpen())
        return;
    const qint64 bytes = m_file.pos() - WavFileHeader::size;
    if (bytes <= 0)
        return;
    const qint64 byteRate =
        qint64(m_header.sampleRate()) * m_header.channelCount() * (m_header.sampleSize() / 8);
    if (byteRate <= 0)
        return;
    const qint64 sinceActiveMs = m_activeClock.isValid() ? m_activeClock.elapsed() : 0;
    // A delivery ends about when it arrives: the first sample was captured no later than the
    // arrival less the audio delivered so far. Every later delivery can only tighten that bound.
    const qint64 deliveredMs = (bytes - m_paddingBytes) * 1000 / byteRate;
    const qint64 startMs = sinceActiveMs - deliveredMs;

    if (!m_firstSampleClock.isValid()) {
        m_firstSampleClock.start();
        qDebug() << "[AudioRecorder] first samples" << bytes << "bytes" << deliveredMs
                 << "ms of audio" << sinceActiveMs << "ms after start";
        // The moment the source reported running (started()) is the time origin of the
        // presentation: when capturing began only later, silence in front makes the file begin
        // at the origin. A delivery holding more than the time since the start comes from a
        // source that fills its buffer ahead of real time (generated sound); it stays as it is.
        if (startMs > 0)
            padFront(bytes, startMs * byteRate / 1000);
        m_firstSampleOffsetMs = sinceActiveMs;
        Q_EMIT firstSamplesReceived();
        return;
    }

    if (m_paddingBytes > 0 && startMs * byteRate / 1000 < m_paddingBytes)
        shrinkPadding(qMax<qint64>(0, startMs) * byteRate / 1000);
    if (m_firstSampleClock.elapsed() > paddingRefinementMs)
        m_firstSampleTimer.stop();
}

void AudioRecorder::shrinkPadding(qint64 paddingBytes)
{
    const qint64 blockAlign = qint64(m_header.channelCount()) * (m_header.sampleSize() / 8);
    paddingBytes -= paddingBytes % blockAlign;
    const qint64 remove = m_paddingBytes - paddingBytes;
    if (remove <= 0 || !m_file.seek(WavFileHeader::size + remove))
        return;
    const QByteArray rest = m_file.readAll();
    m_file.resize(WavFileHeader::size);
    m_file.seek(WavFileHeader::size);
    m_file.write(rest);
    m_paddingBytes = paddingBytes;
}

void AudioRecorder::padFront(qint64 recordedBytes, qint64 silenceBytes)
{
    const qint64 blockAlign = qint64(m_header.channelCount()) * (m_header.sampleSize() / 8);
    if (blockAlign <= 0)
        return;
    silenceBytes -= silenceBytes % blockAlign;
    if (silenceBytes <= 0 || !m_file.seek(WavFileHeader::size))
        return;
    const QByteArray recorded = m_file.read(recordedBytes);
    // Unsigned 8-bit samples are silent at their middle value, all other formats at zero.
    const char silence = m_header.sampleSize() == 8 ? char(0x80) : char(0);
    m_file.seek(WavFileHeader::size);
    m_file.write(QByteArray(silenceBytes, silence));
    m_file.write(recorded);
    m_paddingBytes = silenceBytes;
    qDebug() << "[AudioRecorder] silence in front of the first samples:" << silenceBytes << "bytes";
}

void AudioRecorder::trimAheadOfTime()
{
    // The first sample is the moment of started(); audio beyond the time that has passed since
    // then cannot have been captured yet. Generated sources deliver such audio ahead of real
    // time; it would make the file longer than the recording and shift nothing but its end.
    const qint64 byteRate =
        qint64(m_header.sampleRate()) * m_header.channelCount() * (m_header.sampleSize() / 8);
    const qint64 blockAlign = qint64(m_header.channelCount()) * (m_header.sampleSize() / 8);
    if (!m_activeClock.isValid() || byteRate <= 0 || blockAlign <= 0)
        return;
    constexpr qint64 toleranceMs = 50;
    qint64 allowed = (m_activeClock.elapsed() + toleranceMs) * byteRate / 1000;
    allowed -= allowed % blockAlign;
    m_file.flush();
    if (m_file.size() - WavFileHeader::size <= allowed)
        return;
    qDebug() << "[AudioRecorder] dropping audio delivered ahead of time:"
             << m_file.size() - WavFileHeader::size - allowed << "bytes";
    m_file.resize(WavFileHeader::size + allowed);
    m_file.seek(m_file.size());
}
