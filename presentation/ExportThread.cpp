#include "ExportThread.h"

#include "PresentationExporter.h"
#include "RecordedPresentation.h"

#include <QDebug>
#include <QFileInfo>

ExportThread::ExportThread(ExportKind kind, const QDir &presentationDirectory,
                           const QString &outputPath, QObject *parent)
    : QThread(parent), m_kind(kind), m_directory(presentationDirectory)
{
    m_outputPath = outputPath.isEmpty()
                       ? m_directory.absoluteFilePath(ExportKinds::defaultFileName(kind))
                       : QFileInfo(outputPath).absoluteFilePath();
    m_control.setProgressHandler([this](int percent) { Q_EMIT progressChanged(percent); });
}

ExportThread::~ExportThread()
{
    cancel();
    wait();
}

void ExportThread::run()
{
    qDebug() << "[ExportThread]"
             << "exporting the" << ExportKinds::description(m_kind) << "of"
             << m_directory.absolutePath() << "to" << m_outputPath;
    // Created here: loading the video encoder's module takes a moment.
    m_exporter = ExportKinds::createExporter(m_kind, &m_errorMessage);
    RecordedPresentation presentation;
    m_succeeded = m_exporter && presentation.load(m_directory, &m_errorMessage) &&
                  m_exporter->write(presentation, m_outputPath, m_control, &m_errorMessage);
    if (m_succeeded)
        m_errorMessage.clear();
    else
        qDebug() << "[ExportThread]"
                 << "export failed:" << m_errorMessage;
}
