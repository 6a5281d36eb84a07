#include "PresentationModelLoader.h"

#include "Presentation.h"

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
        // Created here, but owned and eventually deleted by the model on its own thread: this
        // thread has no event loop that could run a deferred deletion.
        presentation->moveToThread(thread());
        emit loadedPresentation(presentation);
    }
}
