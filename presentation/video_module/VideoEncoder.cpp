#include "VideoEncoder.h"

#include "VideoFileWriter.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace {

constexpr AVRational millisecondTimeBase{1, 1000};
// Keyframes are also forced every few frames within a long slide, so that seeking into it does
// not decode minutes of frames.
constexpr int framesBetweenKeyframes = 10;

} // namespace

bool VideoEncoder::open(VideoFileWriter &writer, QSize size, QString *errorMessage)
{
    m_writer = &writer;
    const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) {
        *errorMessage = QStringLiteral("Cannot encode the video: FFmpeg has no H.264 encoder "
                                       "(libx264).");
        return false;
    }
    m_stream = writer.addStream(errorMessage);
    if (!m_stream)
        return false;
    m_codec.reset(avcodec_alloc_context3(codec));
    m_frame.reset(av_frame_alloc());
    m_packet.reset(av_packet_alloc());
    if (!m_codec || !m_frame || !m_packet)
        return fail(AVERROR(ENOMEM), errorMessage);

    m_codec->width = size.width();
    m_codec->height = size.height();
    m_codec->pix_fmt = AV_PIX_FMT_YUV420P;
    m_codec->time_base = millisecondTimeBase;
    // Frames come at most a second apart; x264 takes this as the rate for its rate control.
    m_codec->framerate = AVRational{1, 1};
    m_codec->gop_size = framesBetweenKeyframes;
    // Still pictures gain nothing from B-frames, and without them every packet's time is its
    // frame's.
    m_codec->max_b_frames = 0;
    m_codec->thread_count = 2;
    m_codec->color_range = AVCOL_RANGE_MPEG;
    m_codec->colorspace = AVCOL_SPC_BT709;
    m_codec->color_primaries = AVCOL_PRI_BT709;
    m_codec->color_trc = AVCOL_TRC_BT709;
    if (writer.needsGlobalHeader())
        m_codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(m_codec->priv_data, "preset", "veryfast", 0);
    av_opt_set(m_codec->priv_data, "tune", "stillimage", 0);
    av_opt_set(m_codec->priv_data, "crf", "23", 0);
    av_opt_set(m_codec->priv_data, "forced-idr", "1", 0);

    int result = avcodec_open2(m_codec.get(), codec, nullptr);
    if (result < 0)
        return fail(result, errorMessage);
    result = avcodec_parameters_from_context(m_stream->codecpar, m_codec.get());
    if (result < 0)
        return fail(result, errorMessage);
    m_stream->time_base = millisecondTimeBase;

    m_frame->format = AV_PIX_FMT_YUV420P;
    m_frame->width = size.width();
    m_frame->height = size.height();
    m_frame->color_range = AVCOL_RANGE_MPEG;
    m_frame->colorspace = AVCOL_SPC_BT709;
    m_frame->color_primaries = AVCOL_PRI_BT709;
    m_frame->color_trc = AVCOL_TRC_BT709;
    result = av_frame_get_buffer(m_frame.get(), 0);
    if (result < 0)
        return fail(result, errorMessage);

    // QImage::Format_RGB32 is FFmpeg's native-endian RGB32.
    m_converter.reset(sws_getContext(size.width(), size.height(), AV_PIX_FMT_RGB32, size.width(),
                                     size.height(), AV_PIX_FMT_YUV420P,
                                     SWS_BILINEAR | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
    if (!m_converter)
        return fail(AVERROR(EINVAL), errorMessage);
    const int *bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(m_converter.get(), bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
    return true;
}

bool VideoEncoder::setPicture(const QImage &picture, QString *errorMessage)
{
    Q_ASSERT(picture.format() == QImage::Format_RGB32 &&
             picture.size() == QSize(m_frame->width, m_frame->height));
    // The encoder may still hold the previous picture.
    const int result = av_frame_make_writable(m_frame.get());
    if (result < 0)
        return fail(result, errorMessage);
    const uint8_t *source[] = {picture.constBits()};
    const int sourceStride[] = {int(picture.bytesPerLine())};
    sws_scale(m_converter.get(), source, sourceStride, 0, picture.height(), m_frame->data,
              m_frame->linesize);
    return true;
}

bool VideoEncoder::encode(qint64 timeMs, qint64 durationMs, bool keyframe, QString *errorMessage)
{
    m_frame->pts = timeMs;
    m_frame->pict_type = keyframe ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    m_durations.insert(timeMs, durationMs);
    return send(m_frame.get(), errorMessage);
}

bool VideoEncoder::finish(QString *errorMessage)
{
    return send(nullptr, errorMessage);
}

bool VideoEncoder::send(const AVFrame *frame, QString *errorMessage)
{
    return m_writer->encode(
        m_codec.get(), frame, m_stream, m_packet.get(), QStringLiteral("video"),
        [this](AVPacket *packet) { packet->duration = m_durations.take(packet->pts); },
        errorMessage);
}

bool VideoEncoder::fail(int error, QString *errorMessage) const
{
    *errorMessage = QStringLiteral("Cannot encode the video: %1").arg(libavErrorText(error));
    return false;
}
