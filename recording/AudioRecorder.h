#pragma once

#include "AudioInput.h"
#include "AudioTimeline.h"
#include "WavFileWriter.h"

#include <QAudio>
#include <QAudioFormat>
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <optional>

class Presentation;

// Records the audio input chosen in the settings into "audio.wav" of the presentation. The
// moment the input reports running (started()) is the time origin of the presentation and the
// first sample of the file; from then on an AudioTimeline keeps the file's position on that
// clock, with silence where the input delivered nothing and small cuts where it delivered ahead.
// The file is only appended to; its header's lengths are brought up to date every few seconds,
// so that a crash leaves a playable file that misses only the last seconds.
//
// An input that goes away while recording (a USB microphone pulled, a sound server restarted) is
// looked for and opened again when it is back (AudioInput); meanwhile the timeline fills the gap
// with silence, so that what follows keeps its place on the clock.
class AudioRecorder : public QObject
{
    Q_OBJECT
    Q_PROPERTY(AudioRecorder::State state READ state NOTIFY property_stateChanged)

public:
    enum State
    {
        Stopped = 0,
        Started = 1,
        Stopping = 2,
        Starting = 3,
    };
    Q_ENUM(State)

    explicit AudioRecorder(QObject *parent = nullptr);
    ~AudioRecorder() override;

    [[nodiscard]] State state() const { return m_state; }

    // The first sample of audio.wav is the moment of started(), the time origin of the
    // presentation. Milliseconds since then, or -1 before firstSamplesReceived().
    [[nodiscard]] qint64 msecsSinceFirstSample() const;

    static constexpr int lengthUpdateIntervalMs = 2000;

Q_SIGNALS:
    void started();
    void stopped();
    void property_stateChanged(AudioRecorder::State state);
    // Once per recording with an audio source, when the first samples reached the file.
    void firstSamplesReceived();
    // Once per recording, when audio.wav cannot be created or written: "Cannot write audio.wav:"
    // and the system's reason. The file keeps what was written before, with a valid header; the
    // recorder goes on until it is asked to stop. A file that cannot be created is followed by
    // stopped() without started().
    void writeFailed(QString message);
    // The input could not be opened: the message says which and why; stopped() follows, without
    // started().
    void startFailed(QString message);
    // The input went away while recording, and came back; device is its label for messages.
    void deviceLost(QString device);
    void deviceReturned(QString device);

public Q_SLOTS:
    void requestStart(Presentation *presentation);
    void requestStop();

private Q_SLOTS:
    void start();
    void stop();
    void handleAudioInputStateChange(QAudio::State state);

private:
    void setState(State state);
    void beginTimeline();
    void readInput();
    void apply(const QList<AudioTimeline::Step> &steps);
    void finalizeFile(qint64 endMs);
    void reportWriteFailure();
    void finishStop();
    void onInputLost(const QString &device);

    State m_state = Stopped;
    Presentation *m_presentation = nullptr;
    WavFileWriter m_writer;
    AudioInput m_input;
    QAudioFormat m_format;
    bool m_openingInput = false;

    std::optional<AudioTimeline> m_timeline;
    // Delivered and not yet placed by the timeline, from m_pendingOffset on.
    QByteArray m_pending;
    qsizetype m_pendingOffset = 0;
    // The recording clock: started with started().
    QElapsedTimer m_clock;
    qint64 m_stopRequestedMs = -1;
    bool m_firstSamplesWritten = false;
    bool m_writeFailureReported = false;

    QTimer m_startTimer;
    QTimer m_readTimer;
    QTimer m_lengthTimer;
    QTimer m_finishTimer;
};
