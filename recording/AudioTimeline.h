#pragma once

#include <QList>
#include <QtGlobal>

#include <deque>

// Decides where the samples an audio device delivers belong in the file, so that the file's
// position follows the recording clock however the device behaves: it starts late, stalls, or
// runs on a sound-card clock a little faster or slower than the computer's.
//
// The clock starts at the time origin of the recording (time 0 = the first sample of the file).
// Every delivery is reported with the moment it was read; its last sample was captured at about
// that moment. The lowest offset between arrival time and samples received, over the deliveries
// that follow within a short look-ahead, is taken as the device's position on the clock: reads
// that were late by event-loop delays or buffer fragments only ever raise it, while a real stall
// raises it for good and a fast device clock lowers it steadily. The leading silence is decided
// once, after the first deliveries have been held a little longer; afterwards the file is only
// appended to.
class AudioTimeline
{
public:
    // What to do with the front of the bytes that were delivered and are not consumed yet, in
    // this order: write silenceBytes of silence, discard dropBytes, append appendBytes.
    struct Step
    {
        qint64 silenceBytes = 0;
        qint64 dropBytes = 0;
        qint64 appendBytes = 0;
    };

    AudioTimeline(int sampleRate, int bytesPerFrame);

    // Bytes read from the device at arrivalMs on the recording clock. Partial frames are counted
    // once they are completed by a later delivery.
    void deliver(qint64 arrivalMs, qint64 bytes);
    // The decisions that can be taken at nowMs: deliveries whose look-ahead has passed, and
    // silence for a device that has not delivered anything for a while.
    QList<Step> advance(qint64 nowMs);
    // Every decision still open, and silence up to nowMs: the recording ends.
    QList<Step> finish(qint64 nowMs);

    [[nodiscard]] qint64 receivedBytes() const { return m_receivedBytes; }
    // Silence and samples that the steps so far have put into the file.
    [[nodiscard]] qint64 writtenBytes() const { return m_writtenFrames * m_bytesPerFrame; }
    // Total bytes of silence and of dropped samples, for the log.
    [[nodiscard]] qint64 silenceBytes() const { return m_silenceFrames * m_bytesPerFrame; }
    [[nodiscard]] qint64 droppedBytes() const { return m_droppedFrames * m_bytesPerFrame; }

    // Deliveries are held this long to see the ones that follow.
    static constexpr qint64 lookAheadMs = 500;
    // The first deliveries are held longer: a device often starts with a burst.
    static constexpr qint64 firstLookAheadMs = 1000;
    // Deviations up to this are left alone, so that the file is not cut for the noise of the
    // measurement.
    static constexpr qint64 toleranceMs = 5;
    // A device that delivers ahead loses at most this much per delivery: small cuts are not heard.
    static constexpr qint64 maxDropStepMs = 10;
    // A device that delivered nothing for this long gets silence up to that far behind the clock.
    static constexpr qint64 stallLagMs = 2000;

private:
    struct Delivery
    {
        qint64 arrivalMs = 0;
        qint64 frames = 0;
        // Arrival position on the clock less the frames received up to this delivery's end.
        qint64 offsetFrames = 0;
    };

    Step place(const Delivery &delivery, qint64 targetOffsetFrames);
    Step silenceUntil(qint64 frame);
    [[nodiscard]] qint64 framesAt(qint64 ms) const;

    int m_sampleRate = 0;
    int m_bytesPerFrame = 0;
    std::deque<Delivery> m_pending;
    qint64 m_receivedBytes = 0;
    qint64 m_receivedFrames = 0;
    qint64 m_writtenFrames = 0;
    // Frames written less frames received and decided: the silence put in less the samples
    // dropped so far.
    qint64 m_adjustFrames = 0;
    qint64 m_silenceFrames = 0;
    qint64 m_droppedFrames = 0;
    bool m_startDecided = false;
};
