#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <QString>

#include <memory>

// Frees whatever FFmpeg object a LibavPointer holds with the function FFmpeg provides for it.
struct LibavDeleter
{
    void operator()(AVFormatContext *context) const
    {
        if (context->pb && !(context->oformat && (context->oformat->flags & AVFMT_NOFILE)))
            avio_closep(&context->pb);
        avformat_free_context(context);
    }
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
    void operator()(SwsContext *context) const { sws_freeContext(context); }
    void operator()(SwrContext *context) const { swr_free(&context); }
    void operator()(AVAudioFifo *fifo) const { av_audio_fifo_free(fifo); }
};

template <typename T> using LibavPointer = std::unique_ptr<T, LibavDeleter>;

// FFmpeg's text for an error code, for messages shown to the user.
inline QString libavErrorText(int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof(text));
    return QString::fromLocal8Bit(text);
}
