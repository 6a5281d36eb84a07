#include "PresentationModelLoader.h"

#include "Presentation.h"
#include "WavFileHeader.h"

#include <QDateTime>
#include <QDebug>

namespace {

// A recording that is still being written, by this program or another one, keeps its header up
// to date itself: only an audio file left alone this long is taken for the remains of a killed
// recording.
constexpr qint64 untouchedSecondsBeforeRepair = 10;

void repairAudio(const QDir &directory)
{
    const QFileInfo audio(directory.absoluteFilePath(QStringLiteral("audio.wav")));
    if (!audio.isFile() ||
        audio.lastModified().secsTo(QDateTime::currentDateTime()) < untouchedSecondsBeforeRepair)
        return;
    if (!WavFileHeader::repair(audio.absoluteFilePath()))
        qWarning() << "[PresentationModelLoader] audio.wav left as it is in"
                   << directory.absolutePath();
}

} // namespace

PresentationModelLoader::PresentationModelLoader(const QDir &workDir, QObject *parent)
    : QThread(parent), m_workDir(workDir)
{}

void PresentationModelLoader::startLoader()
{
    start();
}

void PresentationModelLoader::run()
{
    const QFileInfoList entries =
        m_workDir.entryInfoList(QDir::AllDirs | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QFileInfo &entry : entries) {
        if (isInterruptionRequested())
            return;
        if (!entry.isDir())
            continue;
        Presentation *presentation = Presentation::load(QDir(entry.absoluteFilePath()));
        if (!presentation)
            continue;
        repairAudio(presentation->dir());
        // Created here, but owned and eventually deleted by the model on its own thread: this
        // thread has no event loop that could run a deferred deletion.
        presentation->moveToThread(thread());
        emit loadedPresentation(presentation);
    }
}
