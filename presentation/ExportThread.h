#pragma once

#include "ExportControl.h"
#include "ExportKind.h"

#include <QDir>
#include <QString>
#include <QThread>

#include <memory>

class PresentationExporter;

// One export of one presentation, run away from the thread that shows its progress. The
// presentation is read on this thread too: a long recording has many slide files to check.
class ExportThread : public QThread
{
    Q_OBJECT

public:
    // An empty output path means the exporter's default file in the presentation directory.
    ExportThread(ExportKind kind, const QDir &presentationDirectory, const QString &outputPath,
                 QObject *parent = nullptr);
    ~ExportThread() override;

    [[nodiscard]] ExportKind kind() const { return m_kind; }
    [[nodiscard]] QString outputPath() const { return m_outputPath; }
    // Valid once finished() was emitted.
    [[nodiscard]] bool succeeded() const { return m_succeeded; }
    [[nodiscard]] QString errorMessage() const { return m_errorMessage; }

    // The export stops soon and leaves no file; thread-safe.
    void cancel() { m_control.cancel(); }

signals:
    // 0 to 100, emitted from the export's thread.
    void progressChanged(int percent);

protected:
    void run() override;

private:
    ExportKind m_kind;
    QDir m_directory;
    QString m_outputPath;
    std::unique_ptr<PresentationExporter> m_exporter;
    ExportControl m_control;
    bool m_succeeded = false;
    QString m_errorMessage;
};
