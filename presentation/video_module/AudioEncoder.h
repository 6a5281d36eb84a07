#pragma once

#include "LibavSupport.h"

#include <QFile>
#include <QString>

class VideoFileWriter;

// The AAC stream of a video export, read from the presentation's WAV file piece by piece and
// resampled to what FFmpeg's AAC encoder takes.
class AudioEncoder
{
public:
    bool open(VideoFileWriter &writer, const QString &wavPath, QString *errorMessage);
    // Encodes the samples up to timeMs (milliseconds from the start of the audio), or to the end.
    bool encodeUntil(qint64 timeMs, QString *errorMessage);
    [[nodiscard]] qint64 encodedMs() const;
    // Encodes what is left: the resampler's and the encoder's delay.
    bool finish(QString *errorMessage);

private:
    bool openInput(QString *errorMessage);
    bool openEncoder(QString *errorMessage);
    bool readUntil(qint64 frame, QString *errorMessage);
    // Converts frames of the WAV file's samples, or flushes the resampler without input.
    bool resample(const uint8_t **input, int frames, QString *errorMessage);
    bool encodeFifo(bool all, QString *errorMessage);
    bool send(const AVFrame *frame, QString *errorMessage);
    bool fail(int error, QString *errorMessage) const;

    VideoFileWriter *m_writer = nullptr;
    AVStream *m_stream = nullptr;
    QFile m_file;
    AVSampleFormat m_inputFormat = AV_SAMPLE_FMT_NONE;
    int m_inputRate = 0;
    int m_inputChannels = 0;
    int m_frameBytes = 0;
    qint64 m_frameCount = 0;
    qint64 m_framesRead = 0;
    qint64 m_samplesSent = 0;
    LibavPointer<AVCodecContext> m_codec;
    LibavPointer<SwrContext> m_resampler;
    LibavPointer<AVAudioFifo> m_fifo;
    LibavPointer<AVFrame> m_frame;
    LibavPointer<AVPacket> m_packet;
};
