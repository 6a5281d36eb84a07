#include "VideoFileWriter.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cstdio>

extern "C" {
#include <libavutil/dict.h>
#include <libavutil/mem.h>
}

namespace {

// FFmpeg reads "name:" at the start of a path as a protocol; the file protocol takes any path.
QByteArray fileUrl(const QString &path)
{
    return "file:" + QFile::encodeName(path);
}

} // namespace

VideoFileWriter::VideoFileWriter(const QString &outputPath)
    : m_outputPath(QFileInfo(outputPath).absoluteFilePath())
{}

VideoFileWriter::~VideoFileWriter()
{
    m_context.reset();
    if (!m_finished && !m_temporaryPath.isEmpty() && QFile::exists(m_temporaryPath) &&
        !QFile::remove(m_temporaryPath))
        qWarning() << "[VideoFileWriter] cannot remove" << m_temporaryPath;
}

bool VideoFileWriter::create(QString *errorMessage)
{
    QTemporaryFile file(m_outputPath + QStringLiteral(".XXXXXX.part"));
    file.setAutoRemove(false);
    if (!file.open()) {
        *errorMessage = QStringLiteral("Cannot write the video %1: %2")
                            .arg(QDir::toNativeSeparators(m_outputPath), file.errorString());
        return false;
    }
    m_temporaryPath = file.fileName();
    // A temporary file is private to its owner; the video is an ordinary file for others to use.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                        QFileDevice::WriteUser | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    file.close();

    AVFormatContext *context = nullptr;
    const int result = avformat_alloc_output_context2(&context, nullptr, "mp4",
                                                      fileUrl(m_temporaryPath).constData());
    m_context.reset(context);
    if (result < 0) {
        *errorMessage = QStringLiteral("Cannot create an MP4 file: %1").arg(libavErrorText(result));
        return false;
    }
    return true;
}

bool VideoFileWriter::needsGlobalHeader() const
{
    return m_context->oformat->flags & AVFMT_GLOBALHEADER;
}

AVStream *VideoFileWriter::addStream(QString *errorMessage)
{
    AVStream *stream = avformat_new_stream(m_context.get(), nullptr);
    if (!stream)
        *errorMessage = QStringLiteral("Cannot create an MP4 file: out of memory");
    return stream;
}

bool VideoFileWriter::setTitle(const QString &title, QString *errorMessage)
{
    const int result = av_dict_set(&m_context->metadata, "title", title.toUtf8().constData(), 0);
    if (result < 0) {
        *errorMessage = QStringLiteral("Cannot create an MP4 file: %1").arg(libavErrorText(result));
        return false;
    }
    return true;
}

bool VideoFileWriter::addChapter(qint64 startMs, qint64 endMs, const QString &title,
                                 QString *errorMessage)
{
    // FFmpeg has no public call that adds a chapter; the context frees chapters made like this.
    auto *chapter = static_cast<AVChapter *>(av_mallocz(sizeof(AVChapter)));
    auto **chapters =
        chapter ? static_cast<AVChapter **>(av_realloc_array(
                      m_context->chapters, m_context->nb_chapters + 1, sizeof(AVChapter *)))
                : nullptr;
    if (!chapters) {
        av_free(chapter);
        *errorMessage = QStringLiteral("Cannot create an MP4 file: out of memory");
        return false;
    }
    m_context->chapters = chapters;
    chapter->id = m_context->nb_chapters;
    chapter->time_base = AVRational{1, 1000};
    chapter->start = startMs;
    chapter->end = endMs;
    m_context->chapters[m_context->nb_chapters++] = chapter;
    const int result = av_dict_set(&chapter->metadata, "title", title.toUtf8().constData(), 0);
    if (result < 0) {
        *errorMessage = QStringLiteral("Cannot create an MP4 file: %1").arg(libavErrorText(result));
        return false;
    }
    return true;
}

bool VideoFileWriter::start(QString *errorMessage)
{
    int result = avio_open(&m_context->pb, fileUrl(m_temporaryPath).constData(), AVIO_FLAG_WRITE);
    if (result < 0)
        return fail(result, errorMessage);
    AVDictionary *options = nullptr;
    // The index goes to the front so that a browser can start playing before it has it all.
    av_dict_set(&options, "movflags", "+faststart", 0);
    result = avformat_write_header(m_context.get(), &options);
    av_dict_free(&options);
    if (result < 0)
        return fail(result, errorMessage);
    return true;
}

bool VideoFileWriter::write(AVPacket *packet, AVRational timeBase, AVStream *stream,
                            QString *errorMessage)
{
    av_packet_rescale_ts(packet, timeBase, stream->time_base);
    packet->stream_index = stream->index;
    const int result = av_interleaved_write_frame(m_context.get(), packet);
    if (result < 0)
        return fail(result, errorMessage);
    return true;
}

bool VideoFileWriter::encode(AVCodecContext *codec, const AVFrame *frame, AVStream *stream,
                             AVPacket *packet, const QString &what,
                             const std::function<void(AVPacket *)> &complete, QString *errorMessage)
{
    auto encoderFailed = [&](int error) {
        *errorMessage = QStringLiteral("Cannot encode the %1: %2").arg(what, libavErrorText(error));
        return false;
    };
    int result = avcodec_send_frame(codec, frame);
    if (result < 0)
        return encoderFailed(result);
    for (;;) {
        result = avcodec_receive_packet(codec, packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return true;
        if (result < 0)
            return encoderFailed(result);
        if (complete)
            complete(packet);
        if (!write(packet, codec->time_base, stream, errorMessage))
            return false;
    }
}

bool VideoFileWriter::finish(QString *errorMessage)
{
    int result = av_write_trailer(m_context.get());
    if (result < 0)
        return fail(result, errorMessage);
    // Closing reports no error of its last buffered write: flush and look first.
    avio_flush(m_context->pb);
    if (m_context->pb->error < 0)
        return fail(m_context->pb->error, errorMessage);
    result = avio_closep(&m_context->pb);
    if (result < 0)
        return fail(result, errorMessage);
    m_context.reset();
    if (!replaceOutput(errorMessage))
        return false;
    m_finished = true;
    return true;
}

bool VideoFileWriter::fail(int error, QString *errorMessage) const
{
    *errorMessage = QStringLiteral("Cannot write the video %1: %2")
                        .arg(QDir::toNativeSeparators(m_outputPath), libavErrorText(error));
    return false;
}

bool VideoFileWriter::replaceOutput(QString *errorMessage)
{
    // POSIX replaces an existing file in one step, so a reader sees the old or the new video.
    if (std::rename(QFile::encodeName(m_temporaryPath).constData(),
                    QFile::encodeName(m_outputPath).constData()) == 0)
        return true;
    // Elsewhere the old file is moved aside first and put back if the new one cannot take its
    // place.
    const QString aside = m_temporaryPath + QStringLiteral(".old");
    const bool hadOutput = QFile::exists(m_outputPath);
    if (!hadOutput || QFile::rename(m_outputPath, aside)) {
        if (QFile::rename(m_temporaryPath, m_outputPath)) {
            if (hadOutput && !QFile::remove(aside))
                qWarning() << "[VideoFileWriter] cannot remove" << aside;
            return true;
        }
        if (hadOutput)
            QFile::rename(aside, m_outputPath);
    }
    *errorMessage =
        QStringLiteral("Cannot replace the video %1.").arg(QDir::toNativeSeparators(m_outputPath));
    return false;
}
