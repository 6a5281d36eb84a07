#pragma once

#include "LibavSupport.h"

#include <QString>

#include <functional>

// The MP4 container of a video export. Everything goes into a temporary file beside the output,
// which replaces the output only once it is complete; a writer destroyed before finish()
// succeeded removes the temporary file, so a failed or cancelled export leaves nothing behind and
// an older file at the output path as it was.
class VideoFileWriter
{
public:
    explicit VideoFileWriter(const QString &outputPath);
    ~VideoFileWriter();

    VideoFileWriter(const VideoFileWriter &) = delete;
    VideoFileWriter &operator=(const VideoFileWriter &) = delete;

    // Reserves the temporary file and prepares the container; streams, chapters and metadata can
    // be added until start().
    bool create(QString *errorMessage);
    [[nodiscard]] AVFormatContext *context() const { return m_context.get(); }
    // Encoders of streams in an MP4 file put their codec headers into the container.
    [[nodiscard]] bool needsGlobalHeader() const;
    AVStream *addStream(QString *errorMessage);
    bool setTitle(const QString &title, QString *errorMessage);
    bool addChapter(qint64 startMs, qint64 endMs, const QString &title, QString *errorMessage);

    bool start(QString *errorMessage);
    // Takes the packet's data; its times are in timeBase.
    bool write(AVPacket *packet, AVRational timeBase, AVStream *stream, QString *errorMessage);
    // Sends the frame (null at the end) to the stream's encoder and writes every packet the
    // encoder has ready; complete, when given, fills in what the encoder leaves out of a packet.
    // An encoder failure reads "Cannot encode the WHAT: REASON".
    bool encode(AVCodecContext *codec, const AVFrame *frame, AVStream *stream, AVPacket *packet,
                const QString &what, const std::function<void(AVPacket *)> &complete,
                QString *errorMessage);
    // Completes the file and moves it to the output path.
    bool finish(QString *errorMessage);

private:
    bool fail(int error, QString *errorMessage) const;
    bool replaceOutput(QString *errorMessage);

    QString m_outputPath;
    QString m_temporaryPath;
    LibavPointer<AVFormatContext> m_context;
    bool m_finished = false;
};
