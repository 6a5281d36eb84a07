#pragma once

#include <QDir>
#include <QThread>

class Presentation;

// One pass over the work directory on a thread of its own: every sub-directory that loads as a
// presentation is handed out by loadedPresentation(). Deletes itself when the pass is over.
class PresentationModelLoader : public QThread
{
    Q_OBJECT

public:
    PresentationModelLoader(const QDir &workDir, QObject *parent);

signals:
    // The receiver owns the presentation; it already lives in the loader object's thread.
    void loadedPresentation(Presentation *presentation);

public slots:
    void startLoader();

protected:
    void run() override;

private:
    QDir m_workDir;
};
