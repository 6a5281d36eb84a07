#pragma once

#include <QDir>
#include <QList>
#include <QString>

// A finished presentation directory built on disk for the export tests: presentation.xml, slide
// images with their timestamps_ms.txt and a 16-bit mono audio.wav with a 440 Hz tone.
namespace ExportTestPresentation {

struct Slide
{
    qint64 timeMs = 0;
    // One picture per screen, each a distinct synthetic slide chosen by its seed.
    QList<int> seeds;
};

// Creates parent/name. Slides are numbered from 1 in the given order; audioMs < 0 writes no
// audio.wav. Returns the directory, or an empty path on failure.
QString create(const QDir &parent, const QString &name, const QString &title,
               const QList<Slide> &slides, qint64 audioMs, int width = 640, int height = 360);

// The synthetic picture of a seed, as create() saved it.
QImage picture(int seed, int width = 640, int height = 360);

} // namespace ExportTestPresentation
