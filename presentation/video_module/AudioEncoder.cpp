#include "AudioEncoder.h"

#include "VideoFileWriter.h"
#include "WavFileHeader.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace {

constexpr int fallbackSampleRate = 48000;
constexpr int wavFormatPcm = 1;
constexpr int wavFormatFloat = 3;

AVSampleFormat sampleFormatOf(const WavFileHeader &header)
{
    if (header.byteOrder() != 1)
        return AV_SAMPLE_FMT_NONE;
    if (header.audioFormat() == wavFormatFloat && header.sampleSize() == 32)
        return AV_SAMPLE_FMT_FLT;
    if (header.audioFormat() != wavFormatPcm)
        return AV_SAMPLE_FMT_NONE;
    switch (header.sampleSize()) {
    case 8:
        return AV_SAMPLE_FMT_U8;
    case 16:
        return AV_SAMPLE_FMT_S16;
    case 32:
        return AV_SAMPLE_FMT_S32;
    default:
        return AV_SAMPLE_FMT_NONE;
    }
}

bool supportsRate(const AVCodec *codec, int rate)
{
    if (!codec->supported_samplerates)
        return true;
    for (const int *supported = codec->supported_samplerates; *supported; ++supported) {
        if (*supported == rate)
            return true;
    }
    return false;
}

bool supportsLayout(const AVCodec *codec, const AVChannelLayout &layout)
{
    if (!codec->ch_layouts)
        return true;
    for (const AVChannelLayout *supported = codec->ch_layouts; supported->nb_channels;
         ++supported) {
        if (av_channel_layout_compare(supported, &layout) == 0)
            return true;
    }
    return false;
}

} // namespace

bool AudioEncoder::open(VideoFileWriter &writer, const QString &wavPath, QString *errorMessage)
{
    m_writer = &writer;
    m_file.setFileName(wavPath);
    return openInput(errorMessage) && openEncoder(errorMessage);
}

bool AudioEncoder::openInput(QString *errorMessage)
{
    const QString path = QDir::toNativeSeparators(m_file.fileName());
    WavFileHeader header;
    if (!m_file.open(QIODevice::ReadOnly) || !header.read(&m_file) ||
        !m_file.seek(WavFileHeader::size)) {
        *errorMessage = QStringLiteral("Cannot read %1: %2").arg(path, m_file.errorString());
        return false;
    }
    m_inputFormat = sampleFormatOf(header);
    m_inputRate = int(header.sampleRate());
    m_inputChannels = header.channelCount();
    if (m_inputFormat == AV_SAMPLE_FMT_NONE || m_inputRate <= 0 || m_inputChannels <= 0) {
        *errorMessage =
            QStringLiteral("Cannot read %1: its sample format is not supported.").arg(path);
        return false;
    }
    m_frameBytes = m_inputChannels * av_get_bytes_per_sample(m_inputFormat);
    // As when the presentation was loaded: what is on disk counts, not the header.
    m_frameCount = std::max<qint64>(0, m_file.size() - WavFileHeader::size) / m_frameBytes;
    return true;
}

bool AudioEncoder::openEncoder(QString *errorMessage)
{
    const AVCodec *codec = avcodec_find_encoder_by_name("aac");
    if (!codec) {
        *errorMessage = QStringLiteral("Cannot encode the audio: FFmpeg has no AAC encoder.");
        return false;
    }
    m_stream = m_writer->addStream(errorMessage);
    if (!m_stream)
        return false;
    m_codec.reset(avcodec_alloc_context3(codec));
    m_frame.reset(av_frame_alloc());
    m_packet.reset(av_packet_alloc());
    if (!m_codec || !m_frame || !m_packet)
        return fail(AVERROR(ENOMEM), errorMessage);

    AVChannelLayout inputLayout;
    av_channel_layout_default(&inputLayout, m_inputChannels);
    // Layouts AAC cannot carry (many channels of an audio interface) become stereo.
    if (supportsLayout(codec, inputLayout))
        av_channel_layout_copy(&m_codec->ch_layout, &inputLayout);
    else
        av_channel_layout_default(&m_codec->ch_layout, 2);
    m_codec->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    m_codec->sample_rate = supportsRate(codec, m_inputRate) ? m_inputRate : fallbackSampleRate;
    m_codec->bit_rate = m_codec->ch_layout.nb_channels == 1 ? 96000 : 160000;
    m_codec->time_base = AVRational{1, m_codec->sample_rate};
    if (m_writer->needsGlobalHeader())
        m_codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    int result = avcodec_open2(m_codec.get(), codec, nullptr);
    if (result < 0)
        return fail(result, errorMessage);
    result = avcodec_parameters_from_context(m_stream->codecpar, m_codec.get());
    if (result < 0)
        return fail(result, errorMessage);
    m_stream->time_base = m_codec->time_base;

    SwrContext *resampler = nullptr;
    result = swr_alloc_set_opts2(&resampler, &m_codec->ch_layout, m_codec->sample_fmt,
                                 m_codec->sample_rate, &inputLayout, m_inputFormat, m_inputRate, 0,
                                 nullptr);
    av_channel_layout_uninit(&inputLayout);
    m_resampler.reset(resampler);
    if (result < 0 || (result = swr_init(m_resampler.get())) < 0)
        return fail(result, errorMessage);
    m_fifo.reset(av_audio_fifo_alloc(m_codec->sample_fmt, m_codec->ch_layout.nb_channels,
                                     std::max(m_codec->frame_size, 1024)));
    if (!m_fifo)
        return fail(AVERROR(ENOMEM), errorMessage);
    return true;
}

qint64 AudioEncoder::encodedMs() const
{
    return m_framesRead * 1000 / m_inputRate;
}

bool AudioEncoder::encodeUntil(qint64 timeMs, QString *errorMessage)
{
    return readUntil(std::min(m_frameCount, timeMs * m_inputRate / 1000), errorMessage);
}

bool AudioEncoder::readUntil(qint64 frame, QString *errorMessage)
{
    // A fifth of a second at a time keeps the buffers small.
    const qint64 chunkFrames = std::max(1, m_inputRate / 5);
    while (m_framesRead < frame) {
        const qint64 frames = std::min(chunkFrames, frame - m_framesRead);
        const QByteArray bytes = m_file.read(frames * m_frameBytes);
        if (bytes.size() != frames * m_frameBytes) {
            *errorMessage =
                QStringLiteral("Cannot read %1: %2")
                    .arg(QDir::toNativeSeparators(m_file.fileName()), m_file.errorString());
            return false;
        }
        m_framesRead += frames;
        const auto *input = reinterpret_cast<const uint8_t *>(bytes.constData());
        if (!resample(&input, int(frames), errorMessage) || !encodeFifo(false, errorMessage))
            return false;
    }
    return true;
}

bool AudioEncoder::resample(const uint8_t **input, int frames, QString *errorMessage)
{
    const int capacity = swr_get_out_samples(m_resampler.get(), frames);
    if (capacity <= 0)
        return true;
    // Planar samples need one buffer per channel: a frame provides them.
    LibavPointer<AVFrame> converted(av_frame_alloc());
    if (!converted)
        return fail(AVERROR(ENOMEM), errorMessage);
    converted->format = m_codec->sample_fmt;
    converted->nb_samples = capacity;
    converted->sample_rate = m_codec->sample_rate;
    int result = av_channel_layout_copy(&converted->ch_layout, &m_codec->ch_layout);
    if (result < 0 || (result = av_frame_get_buffer(converted.get(), 0)) < 0)
        return fail(result, errorMessage);
    result = swr_convert(m_resampler.get(), converted->data, capacity, input, frames);
    if (result < 0)
        return fail(result, errorMessage);
    if (av_audio_fifo_write(m_fifo.get(), reinterpret_cast<void **>(converted->data), result) <
        result)
        return fail(AVERROR(ENOMEM), errorMessage);
    return true;
}

bool AudioEncoder::finish(QString *errorMessage)
{
    // Then what the resampler holds back for its filter.
    return readUntil(m_frameCount, errorMessage) && resample(nullptr, 0, errorMessage) &&
           encodeFifo(true, errorMessage) && send(nullptr, errorMessage);
}

bool AudioEncoder::encodeFifo(bool all, QString *errorMessage)
{
    const int frameSize = m_codec->frame_size > 0 ? m_codec->frame_size : 1024;
    const bool smallLastFrame = m_codec->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME;
    while (av_audio_fifo_size(m_fifo.get()) >= frameSize ||
           (all && av_audio_fifo_size(m_fifo.get()) > 0)) {
        const int available = std::min(frameSize, av_audio_fifo_size(m_fifo.get()));
        av_frame_unref(m_frame.get());
        m_frame->format = m_codec->sample_fmt;
        m_frame->sample_rate = m_codec->sample_rate;
        // An encoder that takes only whole frames gets the last one padded with silence.
        m_frame->nb_samples = smallLastFrame ? available : frameSize;
        int result = av_channel_layout_copy(&m_frame->ch_layout, &m_codec->ch_layout);
        if (result < 0 || (result = av_frame_get_buffer(m_frame.get(), 0)) < 0)
            return fail(result, errorMessage);
        if (available < m_frame->nb_samples)
            av_samples_set_silence(m_frame->data, 0, m_frame->nb_samples,
                                   m_frame->ch_layout.nb_channels, m_codec->sample_fmt);
        if (av_audio_fifo_read(m_fifo.get(), reinterpret_cast<void **>(m_frame->data), available) <
            available)
            return fail(AVERROR(EIO), errorMessage);
        m_frame->pts = m_samplesSent;
        m_samplesSent += m_frame->nb_samples;
        if (!send(m_frame.get(), errorMessage))
            return false;
    }
    return true;
}

bool AudioEncoder::send(const AVFrame *frame, QString *errorMessage)
{
    return m_writer->encode(m_codec.get(), frame, m_stream, m_packet.get(), QStringLiteral("audio"),
                            {}, errorMessage);
}

bool AudioEncoder::fail(int error, QString *errorMessage) const
{
    *errorMessage = QStringLiteral("Cannot encode the audio: %1").arg(libavErrorText(error));
    return false;
}
