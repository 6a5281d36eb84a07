#pragma once

#include <QObject>
#include <QString>

#include <memory>

class ExportThread;

// The window's side of exporting a listed presentation: one export at a time, its progress, its
// cancellation and the line that tells how it ended.
class PresentationExportController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool running READ running NOTIFY property_runningChanged)
    Q_PROPERTY(int progress READ progress NOTIFY property_progressChanged)
    Q_PROPERTY(QString message READ message NOTIFY property_messageChanged)
    Q_PROPERTY(bool failed READ failed NOTIFY property_messageChanged)

public:
    explicit PresentationExportController(QObject *parent = nullptr);
    ~PresentationExportController() override;

    [[nodiscard]] bool running() const { return m_thread != nullptr; }
    [[nodiscard]] int progress() const { return m_progress; }
    [[nodiscard]] QString message() const { return m_message; }
    [[nodiscard]] bool failed() const { return m_failed; }

    // kind: "video", "handout" or "player". The file goes into the presentation directory.
    // Refused while another export runs.
    Q_INVOKABLE bool start(const QString &presentationDirectory, const QString &kind);
    Q_INVOKABLE void cancel();

signals:
    void property_runningChanged(bool running);
    void property_progressChanged(int progress);
    void property_messageChanged(const QString &message);
    void exportFinished(bool succeeded, const QString &outputPath);

private:
    void onProgress(int percent);
    void onThreadFinished();
    void setProgress(int percent);
    void setMessage(const QString &message, bool failed);

    std::unique_ptr<ExportThread> m_thread;
    int m_progress = 0;
    QString m_message;
    bool m_failed = false;
};
