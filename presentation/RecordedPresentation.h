#pragma once

#include <QDir>
#include <QList>
#include <QString>
#include <QStringList>

// One slide of a finished recording: the batch the saver wrote under one number, with one image
// per screen.
struct RecordedSlide
{
    int number = 0;
    // Milliseconds from the start of the audio.
    qint64 timeMs = 0;
    // Paths relative to the presentation directory, in screen order ("0-0003.png",
    // "slides_42/1-0003.png").
    QStringList files;
};

// What a finished presentation directory holds, read for playing and exporting it: the title,
// the slides of every timestamps_ms.txt in time order, and the audio's length. Reading changes
// nothing on disk.
class RecordedPresentation
{
public:
    // False with a reason naming the file when presentation.xml, a timestamps_ms.txt or a slide
    // image is missing or unreadable. A presentation without audio.wav loads (hasAudio() is
    // false); one whose audio.wav is there but unreadable does not.
    bool load(const QDir &directory, QString *errorMessage);

    [[nodiscard]] QDir dir() const { return m_directory; }
    [[nodiscard]] QString title() const { return m_title; }
    // In time order; slides with equal times keep the order of their files.
    [[nodiscard]] const QList<RecordedSlide> &slides() const { return m_slides; }
    // The largest number of images of one slide.
    [[nodiscard]] int screenCount() const { return m_screenCount; }

    [[nodiscard]] bool hasAudio() const { return m_audioDurationMs >= 0; }
    // "audio.wav", relative to the directory.
    [[nodiscard]] static QString audioFileName() { return QStringLiteral("audio.wav"); }
    // The length of the samples on disk (not what a stale header claims); -1 without audio.
    [[nodiscard]] qint64 audioDurationMs() const { return m_audioDurationMs; }
    // The audio's length, or the last slide's time without audio.
    [[nodiscard]] qint64 durationMs() const;

    [[nodiscard]] QString absolutePath(const QString &relativePath) const;
    // The reason used when an export needs the audio and there is none.
    [[nodiscard]] QString missingAudioMessage() const;

    // The slide shown at a time: the last one that appeared at or before it, -1 before the first.
    [[nodiscard]] int slideIndexAt(qint64 timeMs) const;

private:
    bool loadTimestamps(const QString &path, QString *errorMessage);
    bool loadAudio(QString *errorMessage);

    QDir m_directory;
    QString m_title;
    QList<RecordedSlide> m_slides;
    int m_screenCount = 0;
    qint64 m_audioDurationMs = -1;
};
