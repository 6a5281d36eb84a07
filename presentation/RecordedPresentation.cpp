#include "RecordedPresentation.h"

#include "Presentation.h"
#include "WavFileHeader.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <memory>

namespace {

QString slideFileName(int screen, int number)
{
    return QStringLiteral("%1-%2.png").arg(screen).arg(number, 4, 10, QLatin1Char('0'));
}

} // namespace

bool RecordedPresentation::load(const QDir &directory, QString *errorMessage)
{
    m_directory = directory;
    m_slides.clear();
    m_screenCount = 0;
    m_audioDurationMs = -1;

    QString unused;
    QString &error = errorMessage ? *errorMessage : unused;
    if (!directory.exists()) {
        error = QStringLiteral("The presentation directory %1 does not exist.")
                    .arg(QDir::toNativeSeparators(directory.absolutePath()));
        return false;
    }
    const std::unique_ptr<Presentation> presentation(Presentation::load(directory));
    if (!presentation) {
        error = QStringLiteral("%1 is not a presentation: its presentation.xml is missing or "
                               "unreadable.")
                    .arg(QDir::toNativeSeparators(directory.absolutePath()));
        return false;
    }
    m_title = presentation->title();

    QStringList timestampFiles;
    QDirIterator it(directory.absolutePath(), {QStringLiteral("timestamps_ms.txt")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        timestampFiles << it.next();
    // The directory's own file first, then sub-directories by name, so equal times keep a
    // stable order.
    std::sort(timestampFiles.begin(), timestampFiles.end());
    for (const QString &path : std::as_const(timestampFiles)) {
        if (!loadTimestamps(path, &error))
            return false;
    }
    std::stable_sort(
        m_slides.begin(), m_slides.end(),
        [](const RecordedSlide &a, const RecordedSlide &b) { return a.timeMs < b.timeMs; });
    return loadAudio(&error);
}

bool RecordedPresentation::loadTimestamps(const QString &path, QString *errorMessage)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *errorMessage = QStringLiteral("Cannot read %1: %2")
                            .arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    const QDir slideDir = QFileInfo(path).dir();
    const QString prefix = m_directory.relativeFilePath(slideDir.absolutePath());
    const QString relativePrefix =
        (prefix.isEmpty() || prefix == QLatin1String(".")) ? QString() : prefix + QLatin1Char('/');

    // Which screens have an image of which slide number.
    static const QRegularExpression imageName(QStringLiteral("^(\\d+)-(\\d+)\\.png$"));
    QMultiHash<int, int> screensOfNumber;
    for (const QString &name : slideDir.entryList({QStringLiteral("*.png")}, QDir::Files)) {
        const QRegularExpressionMatch match = imageName.match(name);
        if (match.hasMatch())
            screensOfNumber.insert(match.captured(2).toInt(), match.captured(1).toInt());
    }

    int lineNumber = 0;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        ++lineNumber;
        if (line.isEmpty())
            continue;
        const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        bool numberOk = false;
        bool timeOk = false;
        RecordedSlide slide;
        if (fields.size() == 2) {
            slide.number = fields.at(0).toInt(&numberOk);
            slide.timeMs = fields.at(1).toLongLong(&timeOk);
        }
        if (!numberOk || !timeOk || slide.number < 0 || slide.timeMs < 0) {
            *errorMessage = QStringLiteral("%1 is damaged: line %2 is not a slide number and a "
                                           "time.")
                                .arg(QDir::toNativeSeparators(path))
                                .arg(lineNumber);
            return false;
        }
        QList<int> screens = screensOfNumber.values(slide.number);
        if (screens.isEmpty()) {
            *errorMessage = QStringLiteral("The slide file %1 is missing.")
                                .arg(QDir::toNativeSeparators(
                                    slideDir.absoluteFilePath(slideFileName(0, slide.number))));
            return false;
        }
        std::sort(screens.begin(), screens.end());
        for (int screen : std::as_const(screens)) {
            const QString name = slideFileName(screen, slide.number);
            QFileInfo info(slideDir.absoluteFilePath(name));
            if (!info.isReadable()) {
                *errorMessage = QStringLiteral("The slide file %1 is not readable.")
                                    .arg(QDir::toNativeSeparators(info.absoluteFilePath()));
                return false;
            }
            slide.files << relativePrefix + name;
        }
        m_screenCount = std::max(m_screenCount, int(slide.files.size()));
        m_slides << slide;
    }
    return true;
}

bool RecordedPresentation::loadAudio(QString *errorMessage)
{
    const QString path = absolutePath(audioFileName());
    if (!QFileInfo::exists(path))
        return true;
    QFile file(path);
    WavFileHeader header;
    if (!file.open(QIODevice::ReadOnly) || !header.read(&file)) {
        *errorMessage =
            QStringLiteral("Cannot read %1: %2")
                .arg(QDir::toNativeSeparators(path),
                     file.isOpen() ? QStringLiteral("it is not a WAV file") : file.errorString());
        return false;
    }
    const qint64 frameBytes = qint64(header.channelCount()) * (header.sampleSize() / 8);
    if (frameBytes <= 0 || header.sampleRate() == 0) {
        *errorMessage = QStringLiteral("Cannot read %1: it has an unknown sample format")
                            .arg(QDir::toNativeSeparators(path));
        return false;
    }
    // A recording that was killed leaves a header that undercounts; what is on disk counts.
    const qint64 onDisk = std::max<qint64>(0, file.size() - WavFileHeader::size);
    const qint64 frames = onDisk / frameBytes;
    m_audioDurationMs = frames * 1000 / header.sampleRate();
    return true;
}

qint64 RecordedPresentation::durationMs() const
{
    if (hasAudio())
        return m_audioDurationMs;
    return m_slides.isEmpty() ? 0 : m_slides.constLast().timeMs;
}

QString RecordedPresentation::absolutePath(const QString &relativePath) const
{
    return m_directory.absoluteFilePath(relativePath);
}

QString RecordedPresentation::missingAudioMessage() const
{
    return QStringLiteral("The presentation has no audio: %1 is missing.")
        .arg(QDir::toNativeSeparators(absolutePath(audioFileName())));
}

int RecordedPresentation::slideIndexAt(qint64 timeMs) const
{
    const auto after = std::upper_bound(
        m_slides.cbegin(), m_slides.cend(), timeMs,
        [](qint64 time, const RecordedSlide &slide) { return time < slide.timeMs; });
    return int(after - m_slides.cbegin()) - 1;
}
