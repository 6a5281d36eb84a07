#include "ExportTestPresentation.h"

#include "PresentationTestDirs.h"
#include "SlideTestFrames.h"

#include <QFile>
#include <QImage>
#include <QtEndian>

#include <cmath>

namespace ExportTestPresentation {

QImage picture(int seed, int width, int height)
{
    return SlideTestFrames::toImage(SlideTestFrames::slidePicture(width, height, seed));
}

namespace {

QByteArray wavBytes(qint64 audioMs)
{
    constexpr int sampleRate = 48000;
    const qint64 frames = audioMs * sampleRate / 1000;
    QByteArray data(int(frames * 2), Qt::Uninitialized);
    for (qint64 i = 0; i < frames; ++i) {
        const auto value =
            qint16(std::lround(8000.0 * std::sin(2.0 * M_PI * 440.0 * double(i) / sampleRate)));
        qToLittleEndian(value, data.data() + i * 2);
    }
    QByteArray header(44, '\0');
    char *h = header.data();
    memcpy(h, "RIFF", 4);
    qToLittleEndian(quint32(36 + data.size()), h + 4);
    memcpy(h + 8, "WAVEfmt ", 8);
    qToLittleEndian(quint32(16), h + 16);
    qToLittleEndian(quint16(1), h + 20);
    qToLittleEndian(quint16(1), h + 22);
    qToLittleEndian(quint32(sampleRate), h + 24);
    qToLittleEndian(quint32(sampleRate * 2), h + 28);
    qToLittleEndian(quint16(2), h + 32);
    qToLittleEndian(quint16(16), h + 34);
    memcpy(h + 36, "data", 4);
    qToLittleEndian(quint32(data.size()), h + 40);
    return header + data;
}

} // namespace

QString create(const QDir &parent, const QString &name, const QString &title,
               const QList<Slide> &slides, qint64 audioMs, int width, int height)
{
    QByteArray timestamps;
    for (int i = 0; i < slides.size(); ++i)
        timestamps +=
            QByteArray::number(i + 1) + ' ' + QByteArray::number(slides.at(i).timeMs) + '\n';
    if (!PresentationTestDirs::makePresentation(parent, name, title,
                                                QStringLiteral("2026-12-09T10:00:00"), timestamps))
        return {};
    const QDir dir(parent.absoluteFilePath(name));
    for (int i = 0; i < slides.size(); ++i) {
        const QList<int> &seeds = slides.at(i).seeds;
        for (int screen = 0; screen < seeds.size(); ++screen) {
            const QString file =
                QStringLiteral("%1-%2.png").arg(screen).arg(i + 1, 4, 10, QLatin1Char('0'));
            if (!picture(seeds.at(screen), width, height).save(dir.absoluteFilePath(file)))
                return {};
        }
    }
    if (audioMs >= 0 && !PresentationTestDirs::writeFile(
                            dir.absoluteFilePath(QStringLiteral("audio.wav")), wavBytes(audioMs)))
        return {};
    return dir.absolutePath();
}

} // namespace ExportTestPresentation
