#pragma once

#include "WavFileHeader.h"

#include <QAudio>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <QTimer>

class Presentation;
class QAudioSource;

// Records the audio input chosen in the settings into "audio.wav" of the presentation. While it
// records, the header's lengths are brought up to date every few seconds, so that a crash leaves
// a playable file that misses only the last seconds.
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

    // The audio back end delivers the first samples 0.1-2 s after it reports running, sometimes
    // captured only just before. Silence is then put in front, so that the first sample of
    // audio.wav is the moment of started(), the time origin of the presentation. Milliseconds
    // since that first sample, or -1 before firstSamplesReceived().
    [[nodiscard]] qint64 msecsSinceFirstSample() const;

    static constexpr int lengthUpdateIntervalMs = 2000;

Q_SIGNALS:
    void started();
    void stopped();
    void property_stateChanged(AudioRecorder::State state);
    // Once per recording with an audio source, when the first samples reached the file.
    void firstSamplesReceived();

public Q_SLOTS:
    void requestStart(Presentation *presentation);
    void requestStop();

private Q_SLOTS:
    void start();
    void stop();
    void handleAudioInputStateChange(QAudio::State state);

private:
    void setState(State state);
    void finalizeFile();
    void checkFirstSamples();
    void padFront(qint64 recordedBytes, qint64 silenceBytes);
    void shrinkPadding(qint64 paddingBytes);
    void trimAheadOfTime();
    void finishStop();

    State m_state = Stopped;
    Presentation *m_presentation = nullptr;
    QFile m_file;
    QAudioSource *m_audioSource = nullptr;

    WavFileHeader m_header;
    QTimer m_startTimer;
    QTimer m_lengthTimer;
    QTimer m_firstSampleTimer;
    QTimer m_finishTimer;
    QElapsedTimer m_firstSampleClock;
    // Since the source reported running, for the log of how late the first samples came.
    QElapsedTimer m_activeClock;
    qint64 m_firstSampleOffsetMs = 0;
    qint64 m_paddingBytes = 0; // silence put in front of the first samples
};
