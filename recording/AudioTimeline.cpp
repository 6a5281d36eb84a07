#include "AudioTimeline.h"

#include <algorithm>

AudioTimeline::AudioTimeline(int sampleRate, int bytesPerFrame)
    : m_sampleRate(qMax(1, sampleRate)), m_bytesPerFrame(qMax(1, bytesPerFrame))
{}

qint64 AudioTimeline::framesAt(qint64 ms) const
{
    return ms * m_sampleRate / 1000;
}

void AudioTimeline::deliver(qint64 arrivalMs, qint64 bytes)
{
    if (bytes <= 0)
        return;
    m_receivedBytes += bytes;
    const qint64 frames = m_receivedBytes / m_bytesPerFrame - m_receivedFrames;
    if (frames <= 0)
        return;
    m_receivedFrames += frames;
    m_pending.push_back({arrivalMs, frames, framesAt(arrivalMs) - m_receivedFrames});
}

QList<AudioTimeline::Step> AudioTimeline::advance(qint64 nowMs)
{
    QList<Step> steps;
    while (!m_pending.empty()) {
        const Delivery &head = m_pending.front();
        const qint64 horizon = head.arrivalMs + (m_startDecided ? lookAheadMs : firstLookAheadMs);
        if (nowMs < horizon)
            break;
        qint64 target = head.offsetFrames;
        for (const Delivery &later : m_pending) {
            if (later.arrivalMs > horizon)
                break;
            target = std::min(target, later.offsetFrames);
        }
        const Delivery delivery = head;
        m_pending.pop_front();
        steps.append(place(delivery, target));
    }
    if (m_pending.empty()) {
        const qint64 stalledUntil = framesAt(nowMs - stallLagMs);
        if (stalledUntil > m_writtenFrames)
            steps.append(silenceUntil(stalledUntil));
    }
    return steps;
}

QList<AudioTimeline::Step> AudioTimeline::finish(qint64 nowMs)
{
    QList<Step> steps;
    while (!m_pending.empty()) {
        qint64 target = m_pending.front().offsetFrames;
        const qint64 horizon = m_pending.front().arrivalMs + lookAheadMs;
        for (const Delivery &later : m_pending) {
            if (later.arrivalMs > horizon)
                break;
            target = std::min(target, later.offsetFrames);
        }
        const Delivery delivery = m_pending.front();
        m_pending.pop_front();
        steps.append(place(delivery, target));
    }
    const qint64 end = framesAt(nowMs);
    if (end - m_writtenFrames > framesAt(toleranceMs))
        steps.append(silenceUntil(end));
    return steps;
}

AudioTimeline::Step AudioTimeline::place(const Delivery &delivery, qint64 targetOffsetFrames)
{
    Step step;
    const qint64 correction = targetOffsetFrames - m_adjustFrames;
    qint64 silence = 0;
    qint64 drop = 0;
    if (!m_startDecided) {
        // Nothing of the device is in the file yet: the start is decided in one go, with
        // silence for a device that began late, or without the samples captured before the
        // origin (which may take more than one delivery).
        if (correction > 0)
            silence = correction;
        else
            drop = std::min(-correction, delivery.frames);
        m_startDecided = drop == std::max<qint64>(0, -correction);
    } else if (correction > framesAt(toleranceMs)) {
        silence = correction;
    } else if (correction < -framesAt(toleranceMs)) {
        drop = std::min({-correction, framesAt(maxDropStepMs), delivery.frames});
    }
    m_adjustFrames += silence - drop;
    m_silenceFrames += silence;
    m_droppedFrames += drop;
    m_writtenFrames += silence + delivery.frames - drop;
    step.silenceBytes = silence * m_bytesPerFrame;
    step.dropBytes = drop * m_bytesPerFrame;
    step.appendBytes = (delivery.frames - drop) * m_bytesPerFrame;
    return step;
}

AudioTimeline::Step AudioTimeline::silenceUntil(qint64 frame)
{
    const qint64 silence = frame - m_writtenFrames;
    m_adjustFrames += silence;
    m_silenceFrames += silence;
    m_writtenFrames = frame;
    Step step;
    step.silenceBytes = silence * m_bytesPerFrame;
    return step;
}
