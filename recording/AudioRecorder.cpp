#include "AudioRecorder.h"

#include "Presentation.h"
#include "RecorderSettings.h"

#include <QDebug>
#include <QFile>

namespace {

// Leaving the event loop running a moment after the audio stream stopped keeps libpulse from
// crashing in a quit that follows the stop at once.
constexpr int streamWindDownMs = 200;
// The input is read at a period that does not divide the device's own, so the moment of a read
// drifts against its deliveries: within the timeline's look-ahead some reads come right after a
// delivery, and those tell where the device stands on the clock. Each read wakes the program,
// which costs more than the audio itself; a prime period of about 50 ms keeps the placement
// within about 10 ms.
constexpr int readIntervalMs = 47;
// Corrections of the timeline from this size on are worth a line in the log.
constexpr qint64 loggedCorrectionMs = 100;

const QString fileName = QStringLiteral("audio.wav");

qint64 bytesToMs(qint64 bytes, const QAudioFormat &format)
{
    const qint64 bytesPerSecond = qint64(format.bytesPerFrame()) * format.sampleRate();
    return bytesPerSecond > 0 ? bytes * 1000 / bytesPerSecond : 0;
}

} // namespace

AudioRecorder::AudioRecorder(QObject *parent) : QObject(parent)
{
    m_startTimer.setSingleShot(true);
    m_startTimer.setInterval(0);
    connect(&m_startTimer, &QTimer::timeout, this, &AudioRecorder::start);

    m_readTimer.setTimerType(Qt::PreciseTimer);
    m_readTimer.setInterval(readIntervalMs);
    connect(&m_readTimer, &QTimer::timeout, this, &AudioRecorder::readInput);

    m_lengthTimer.setInterval(lengthUpdateIntervalMs);
    connect(&m_lengthTimer, &QTimer::timeout, this, [this] {
        if (m_writer.isOpen() && !m_writer.updateLengths())
            reportWriteFailure();
    });

    m_finishTimer.setSingleShot(true);
    m_finishTimer.setInterval(streamWindDownMs);
    connect(&m_finishTimer, &QTimer::timeout, this, &AudioRecorder::finishStop);

    connect(&m_input, &AudioInput::readyRead, this, &AudioRecorder::readInput);
    connect(&m_input, &AudioInput::stateChanged, this, &AudioRecorder::handleAudioInputStateChange);
    connect(&m_input, &AudioInput::lost, this, &AudioRecorder::onInputLost);
    connect(&m_input, &AudioInput::returned, this, &AudioRecorder::deviceReturned);
}

AudioRecorder::~AudioRecorder()
{
    const qint64 endMs = m_clock.isValid() ? m_clock.elapsed() : 0;
    if (m_input.hasStream())
        readInput();
    // The input must not report into a half-destroyed recorder.
    disconnect(&m_input, nullptr, this, nullptr);
    m_input.release();
    finalizeFile(endMs);
}

qint64 AudioRecorder::msecsSinceFirstSample() const
{
    if (!m_firstSamplesWritten || !m_clock.isValid())
        return -1;
    return m_clock.elapsed();
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
    m_clock.invalidate();
    m_stopRequestedMs = -1;
    m_firstSamplesWritten = false;
    m_writeFailureReported = false;
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
    QAudioFormat format = device.preferredFormat();
    format.setSampleFormat(QAudioFormat::Int32);
    format.setChannelCount(RecorderSettings::instance()->audioChannelCount());
    format.setChannelConfig(QAudioFormat::ChannelConfigUnknown);
    format.setSampleRate(48000);
    if (!device.isFormatSupported(format))
        format = device.preferredFormat();
    m_format = format;

    // The file first: a stream opened and closed again at once can crash the sound server's
    // client library.
    const QString path = m_presentation->dir().absoluteFilePath(fileName);
    if (!m_writer.open(path, format)) {
        reportWriteFailure();
        m_presentation = nullptr;
        setState(Stopped);
        Q_EMIT stopped();
        return;
    }
    qDebug() << "[AudioRecorder] start" << device.id() << format;
    QString error;
    // Its reports while it opens are taken once it is open (below).
    m_openingInput = true;
    const bool opened = m_input.open(device, format, &error);
    m_openingInput = false;
    if (!opened) {
        // A recording without its sound is no recording: the start is refused, and the file
        // made for it goes.
        const QString message = QStringLiteral("The audio input \"%1\" could not be opened: %2.")
                                    .arg(device.description(), error);
        qInfo().noquote() << "[AudioRecorder]" << message;
        m_writer.finish();
        QFile::remove(path);
        m_presentation = nullptr;
        setState(Stopped);
        Q_EMIT startFailed(message);
        Q_EMIT stopped();
        return;
    }
    // Some back ends report running only with the first data read.
    if (m_state == Starting && m_input.state() != QAudio::StoppedState)
        handleAudioInputStateChange(m_input.state());
}

void AudioRecorder::onInputLost(const QString &device)
{
    // What the input still held belongs to the recording.
    readInput();
    if (m_timeline) {
        // A frame cut in half by the end of the stream would shift every sample of the next
        // one: it is completed with silence.
        const qint64 partial = m_timeline->receivedBytes() % m_format.bytesPerFrame();
        if (partial > 0) {
            const qint64 fill = m_format.bytesPerFrame() - partial;
            m_pending.append(QByteArray(fill, '\0'));
            m_timeline->deliver(m_clock.elapsed(), fill);
        }
    }
    Q_EMIT deviceLost(device);
}

void AudioRecorder::handleAudioInputStateChange(QAudio::State state)
{
    if (m_openingInput)
        return;
    if ((state == QAudio::ActiveState || state == QAudio::IdleState) && m_state == Starting) {
        beginTimeline();
        setState(Started);
        Q_EMIT started();
    } else if (state == QAudio::StoppedState && m_state == Stopping) {
        stop();
    }
}

void AudioRecorder::beginTimeline()
{
    m_clock.start();
    m_timeline.emplace(m_format.sampleRate(), m_format.bytesPerFrame());
    m_pending.clear();
    m_pendingOffset = 0;
    m_readTimer.start();
    m_lengthTimer.start();
    m_input.watch();
}

void AudioRecorder::readInput()
{
    if (!m_timeline && !m_writer.failed())
        return;
    const qint64 nowMs = m_clock.isValid() ? m_clock.elapsed() : 0;
    // After a write failure the input is still drained, so that its buffer does not overflow
    // until the stop.
    const QByteArray bytes = m_input.readAll();
    if (!m_timeline)
        return;
    if (!bytes.isEmpty()) {
        m_pending.append(bytes);
        m_timeline->deliver(nowMs, bytes.size());
    }
    apply(m_timeline->advance(nowMs));
    // Consumed bytes are let go of in larger pieces rather than moving the rest at every read.
    if (m_pendingOffset > m_pending.size() / 2) {
        m_pending.remove(0, m_pendingOffset);
        m_pendingOffset = 0;
    }
}

void AudioRecorder::apply(const QList<AudioTimeline::Step> &steps)
{
    for (const AudioTimeline::Step &step : steps) {
        if (!m_timeline)
            return;
        if (step.silenceBytes > 0) {
            const qint64 ms = bytesToMs(step.silenceBytes, m_format);
            if (!m_firstSamplesWritten && m_writer.dataBytes() == 0)
                qDebug() << "[AudioRecorder] silence in front of the first samples:" << ms << "ms";
            else if (ms >= loggedCorrectionMs)
                qDebug() << "[AudioRecorder] silence for a gap in the input:" << ms << "ms at"
                         << bytesToMs(m_writer.dataBytes(), m_format) << "ms";
            if (!m_writer.appendSilence(step.silenceBytes)) {
                reportWriteFailure();
                return;
            }
        }
        m_pendingOffset += step.dropBytes;
        if (step.appendBytes > 0) {
            if (!m_writer.append(m_pending.constData() + m_pendingOffset, step.appendBytes)) {
                reportWriteFailure();
                return;
            }
            m_pendingOffset += step.appendBytes;
            if (!m_firstSamplesWritten) {
                m_firstSamplesWritten = true;
                qDebug() << "[AudioRecorder] first samples" << m_clock.elapsed()
                         << "ms after start";
                Q_EMIT firstSamplesReceived();
            }
        }
    }
}

void AudioRecorder::reportWriteFailure()
{
    m_timeline.reset();
    m_pending.clear();
    m_pendingOffset = 0;
    m_lengthTimer.stop();
    if (m_writeFailureReported)
        return;
    m_writeFailureReported = true;
    const QString message =
        QStringLiteral("Cannot write %1: %2").arg(fileName, m_writer.errorString());
    qWarning().noquote() << "[AudioRecorder]" << message;
    Q_EMIT writeFailed(message);
}

void AudioRecorder::requestStop()
{
    // A stop already on its way finishes by itself.
    if (m_state == Stopping && (m_input.hasStream() || m_finishTimer.isActive()))
        return;
    m_startTimer.stop();
    setState(Stopping);
    if (!m_input.hasStream() && !m_timeline) {
        finishStop();
        return;
    }
    // What the input holds still belongs to the recording; the file ends at this moment.
    readInput();
    m_stopRequestedMs = m_clock.isValid() ? m_clock.elapsed() : 0;
    // Without a stream that reports its end (the input was lost, or its stream ended by itself)
    // the file is finished now.
    if (!m_input.stop())
        stop();
}

void AudioRecorder::stop()
{
    finalizeFile(m_stopRequestedMs >= 0 ? m_stopRequestedMs
                 : m_clock.isValid()    ? m_clock.elapsed()
                                        : 0);
    m_input.release();
    m_finishTimer.start();
}

void AudioRecorder::finishStop()
{
    m_presentation = nullptr;
    setState(Stopped);
    Q_EMIT stopped();
}

void AudioRecorder::finalizeFile(qint64 endMs)
{
    m_readTimer.stop();
    m_lengthTimer.stop();
    if (m_timeline) {
        apply(m_timeline->finish(endMs));
        if (m_timeline)
            qDebug() << "[AudioRecorder] finished at" << endMs
                     << "ms:" << bytesToMs(m_timeline->silenceBytes(), m_format) << "ms silence,"
                     << bytesToMs(m_timeline->droppedBytes(), m_format) << "ms dropped";
        m_timeline.reset();
        m_pending.clear();
        m_pendingOffset = 0;
    }
    if (m_writer.isOpen() && !m_writer.finish())
        reportWriteFailure();
}
