#pragma once

#include "LibavSupport.h"

#include <QHash>
#include <QImage>
#include <QSize>
#include <QString>

class VideoFileWriter;

// The H.264 stream of a video export. Slides are still pictures: each is sent once when it
// appears and then repeated now and then, which costs x264 next to nothing; times are
// milliseconds.
class VideoEncoder
{
public:
    bool open(VideoFileWriter &writer, QSize size, QString *errorMessage);
    // The picture the following frames show, in QImage::Format_RGB32 of the video's size.
    bool setPicture(const QImage &picture, QString *errorMessage);
    // One frame of the current picture shown from timeMs for durationMs; a keyframe starts a new
    // slide, so that players can jump to it directly.
    bool encode(qint64 timeMs, qint64 durationMs, bool keyframe, QString *errorMessage);
    // Sends the frames x264 still holds.
    bool finish(QString *errorMessage);

private:
    bool send(const AVFrame *frame, QString *errorMessage);
    bool fail(int error, QString *errorMessage) const;

    VideoFileWriter *m_writer = nullptr;
    AVStream *m_stream = nullptr;
    LibavPointer<AVCodecContext> m_codec;
    LibavPointer<SwsContext> m_converter;
    LibavPointer<AVFrame> m_frame;
    LibavPointer<AVPacket> m_packet;
    // The frames' display durations by their times: x264 does not carry them through.
    QHash<qint64, qint64> m_durations;
};
