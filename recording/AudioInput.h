#pragma once

#include <QAudio>
#include <QAudioDevice>
#include <QAudioFormat>
#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class QAudioSource;
class QIODevice;

// The audio input device of a recording and its stream, for as long as the device is there. Not
// every back end reports a stream whose device went away (PulseAudio keeps it active for ever),
// so while watched the device list is looked at every second: an input that went away is
// reported, and opened again on the same format as soon as its identifier is listed again.
class AudioInput : public QObject
{
    Q_OBJECT

public:
    static constexpr int checkIntervalMs = 1000;

    explicit AudioInput(QObject *parent = nullptr);
    ~AudioInput() override;

    // Opens the device on the format and starts its stream; false with the reason.
    bool open(const QAudioDevice &device, const QAudioFormat &format, QString *error);
    // From now on a device that goes away is reported and looked for.
    void watch();
    // Asks the stream to stop: stateChanged(StoppedState) follows, unless there is no stream or it
    // had ended already (then false). Watching ends.
    bool stop();
    // Lets go of the stream at once, without a report, and ends watching.
    void release();

    [[nodiscard]] bool hasStream() const { return m_source != nullptr; }
    [[nodiscard]] QAudio::State state() const;
    // Whatever the stream delivered and was not read yet.
    QByteArray readAll();
    // For messages: Audio input "NAME".
    [[nodiscard]] QString label() const;

    // Whether an input with this identifier is listed right now.
    [[nodiscard]] static bool isListed(const QByteArray &id);

Q_SIGNALS:
    void readyRead();
    void stateChanged(QAudio::State state);
    // The device went away; what the stream delivered can still be read during this signal.
    // Until returned() there is no stream.
    void lost(QString device);
    void returned(QString device);

private:
    void check();
    void lose(const char *reason);
    bool startStream(const QAudioDevice &device, QString *error);

    QAudioDevice m_device;
    QAudioFormat m_format;
    // Parented to this object; deleted later, since it may be what is reporting.
    QAudioSource *m_source = nullptr;
    // Owned by the stream, which deletes it when it stops.
    QPointer<QIODevice> m_stream;
    QTimer m_checkTimer;
    bool m_lost = false;
};
