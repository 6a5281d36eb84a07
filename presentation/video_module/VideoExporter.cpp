#include "VideoExporter.h"

#include "AudioEncoder.h"
#include "ExportControl.h"
#include "RecordedPresentation.h"
#include "SlidePictureComposer.h"
#include "VideoEncoder.h"
#include "VideoFileWriter.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdarg>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

namespace {

// A still picture is repeated at least this often, so that players can seek and show it at once.
constexpr qint64 maximumFrameDistanceMs = 1000;

// A stretch of the video showing one picture: a slide, or black before the first one.
struct Segment
{
    int slideIndex = -1;
    qint64 startMs = 0;
    qint64 endMs = 0;
};

QList<Segment> segmentsOf(const RecordedPresentation &presentation, qint64 durationMs)
{
    const QList<RecordedSlide> &slides = presentation.slides();
    QList<Segment> segments;
    if (slides.constFirst().timeMs > 0)
        segments << Segment{-1, 0, std::min(slides.constFirst().timeMs, durationMs)};
    for (int i = 0; i < slides.size(); ++i) {
        const qint64 end = i + 1 < slides.size() ? slides.at(i + 1).timeMs : durationMs;
        const Segment segment{i, slides.at(i).timeMs, std::min(end, durationMs)};
        // A slide replaced in the same millisecond, or shown after the audio ended, is never seen.
        if (segment.startMs < segment.endMs)
            segments << segment;
    }
    return segments;
}

// FFmpeg prints to stderr by default; its warnings and errors go to the log instead, and the
// export reports its own failures.
void logLibavMessage(void *context, int level, const char *format, va_list arguments)
{
    if (level > AV_LOG_WARNING)
        return;
    char line[1024];
    int printPrefix = 1;
    av_log_format_line2(context, level, format, arguments, line, sizeof(line), &printPrefix);
    qDebug().noquote() << "[VideoExporter] FFmpeg:" << QString::fromUtf8(line).trimmed();
}

void routeLibavLog()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(logLibavMessage); });
}

} // namespace

bool VideoExporter::write(const RecordedPresentation &presentation, const QString &outputPath,
                          ExportControl &control, QString *errorMessage)
{
    QString unused;
    QString &error = errorMessage ? *errorMessage : unused;
    const auto failed = [&error, &outputPath] {
        qWarning().noquote() << "[VideoExporter] export to" << outputPath << "failed:" << error;
        return false;
    };

    if (!presentation.hasAudio()) {
        error = presentation.missingAudioMessage();
        return failed();
    }
    const QList<RecordedSlide> &slides = presentation.slides();
    if (slides.isEmpty()) {
        error = QStringLiteral("The presentation has no slides.");
        return failed();
    }
    const qint64 durationMs = presentation.audioDurationMs();
    if (durationMs <= 0) {
        error = QStringLiteral("The presentation's audio is empty: %1")
                    .arg(QDir::toNativeSeparators(
                        presentation.absolutePath(RecordedPresentation::audioFileName())));
        return failed();
    }
    for (const RecordedSlide &slide : slides) {
        if (!SlidePictureComposer::checkReadable(presentation, slide, &error))
            return failed();
    }
    const QSize size = SlidePictureComposer::videoSize(presentation, &error);
    if (size.isEmpty())
        return failed();
    const QList<Segment> segments = segmentsOf(presentation, durationMs);

    routeLibavLog();
    QElapsedTimer timer;
    timer.start();
    qDebug() << "[VideoExporter] exporting" << presentation.dir().absolutePath() << "to"
             << outputPath << "size" << size << "duration ms" << durationMs << "slides"
             << slides.size();

    VideoFileWriter file(outputPath);
    VideoEncoder video;
    AudioEncoder audio;
    if (!file.create(&error) || !video.open(file, size, &error) ||
        !audio.open(file, presentation.absolutePath(RecordedPresentation::audioFileName()),
                    &error) ||
        !file.setTitle(presentation.title(), &error))
        return failed();
    bool firstChapter = true;
    for (const Segment &segment : segments) {
        if (segment.slideIndex < 0)
            continue;
        // MP4's chapter track has no gap before its first chapter: players would show the first
        // slide's chapter from 0 whatever it says, so it says so, and covers the black start.
        const qint64 start = firstChapter ? 0 : segment.startMs;
        firstChapter = false;
        if (!file.addChapter(start, segment.endMs,
                             QStringLiteral("Slide %1").arg(segment.slideIndex + 1), &error))
            return failed();
    }
    if (!file.start(&error))
        return failed();

    const SlidePictureComposer composer(size);
    const auto reportProgress = [&control, &audio, durationMs](qint64 videoMs) {
        // 100 only once the file is complete.
        control.setProgress(std::min<qint64>(99, (videoMs + audio.encodedMs()) * 50 / durationMs));
    };
    for (const Segment &segment : segments) {
        QImage picture = composer.black();
        if (segment.slideIndex >= 0 &&
            !composer.compose(presentation, slides.at(segment.slideIndex), &picture, &error))
            return failed();
        if (!video.setPicture(picture, &error))
            return failed();
        picture = QImage();
        for (qint64 time = segment.startMs; time < segment.endMs; time += maximumFrameDistanceMs) {
            if (control.isCancelled()) {
                error = ExportControl::cancelledMessage();
                qDebug() << "[VideoExporter] export to" << outputPath << "cancelled";
                return false;
            }
            // The audio runs a little ahead, so the muxer always has both streams to interleave.
            if (!audio.encodeUntil(time + maximumFrameDistanceMs, &error))
                return failed();
            const qint64 duration = std::min(maximumFrameDistanceMs, segment.endMs - time);
            if (!video.encode(time, duration, time == segment.startMs, &error))
                return failed();
            reportProgress(time + duration);
        }
    }
    if (control.isCancelled()) {
        error = ExportControl::cancelledMessage();
        return false;
    }
    if (!video.finish(&error) || !audio.finish(&error) || !file.finish(&error))
        return failed();
    control.setProgress(100);
    qDebug() << "[VideoExporter] exported" << outputPath << "in ms" << timer.elapsed();
    return true;
}
