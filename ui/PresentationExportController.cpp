#include "PresentationExportController.h"

#include "ExportThread.h"

#include <QDebug>
#include <QDir>

PresentationExportController::PresentationExportController(QObject *parent) : QObject(parent) {}

PresentationExportController::~PresentationExportController() = default;

bool PresentationExportController::start(const QString &presentationDirectory, const QString &kind)
{
    const std::optional<ExportKind> exportKind = ExportKinds::fromName(kind);
    if (m_thread || !exportKind)
        return false;
    m_thread = std::make_unique<ExportThread>(*exportKind, QDir(presentationDirectory), QString());
    connect(m_thread.get(), &ExportThread::progressChanged, this,
            &PresentationExportController::onProgress);
    connect(m_thread.get(), &QThread::finished, this,
            &PresentationExportController::onThreadFinished);
    setProgress(0);
    setMessage(QStringLiteral("Exporting the %1 …").arg(ExportKinds::description(*exportKind)),
               false);
    Q_EMIT property_runningChanged(true);
    m_thread->start(QThread::LowPriority);
    return true;
}

void PresentationExportController::cancel()
{
    if (m_thread)
        m_thread->cancel();
}

void PresentationExportController::onProgress(int percent)
{
    if (m_thread)
        setProgress(percent);
}

void PresentationExportController::onThreadFinished()
{
    const std::unique_ptr<ExportThread> thread = std::move(m_thread);
    thread->wait();
    const QString path = QDir::toNativeSeparators(thread->outputPath());
    if (thread->succeeded()) {
        setProgress(100);
        setMessage(QStringLiteral("Saved the %1 as %2")
                       .arg(ExportKinds::description(thread->kind()), path),
                   false);
    } else {
        qInfo() << "[PresentationExportController]"
                << "export failed:" << thread->errorMessage();
        setMessage(thread->errorMessage(), true);
    }
    Q_EMIT property_runningChanged(false);
    Q_EMIT exportFinished(thread->succeeded(), thread->outputPath());
}

void PresentationExportController::setProgress(int percent)
{
    if (percent == m_progress)
        return;
    m_progress = percent;
    Q_EMIT property_progressChanged(percent);
}

void PresentationExportController::setMessage(const QString &message, bool failed)
{
    if (message == m_message && failed == m_failed)
        return;
    m_message = message;
    m_failed = failed;
    Q_EMIT property_messageChanged(message);
}
