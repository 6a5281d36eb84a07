#pragma once

#include "S3Error.h"
#include "S3TransferContext.h"

#include <QDebug>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

enum class S3TransferStatus
{
    NotStarted,
    InProgress,
    Completed,
    Failed,
    Canceled,
    Aborted
};

// The state of one upload, shared between the thread that started it, the transfer's own thread
// and the callbacks. Every member is safe to call from any thread.
class S3TransferHandle
{
public:
    S3TransferHandle(const QString &bucketName, const QString &key, const QString &targetFilePath,
                     const QString &contentType, std::shared_ptr<const S3TransferContext> context);

    [[nodiscard]] const QString &GetBucketName() const { return m_bucketName; }
    [[nodiscard]] const QString &GetKey() const { return m_key; }
    [[nodiscard]] const QString &GetTargetFilePath() const { return m_targetFilePath; }
    [[nodiscard]] const QString &GetContentType() const { return m_contentType; }
    [[nodiscard]] const std::shared_ptr<const S3TransferContext> &GetContext() const
    {
        return m_context;
    }

    [[nodiscard]] S3TransferStatus GetStatus() const;
    [[nodiscard]] S3Error GetLastError() const;
    [[nodiscard]] bool IsFinished() const;

    // Blocks until the transfer has ended and its final callbacks have run.
    void WaitUntilFinished() const;
    // The same with a limit; false when the transfer was still running at its end.
    bool WaitUntilFinished(std::chrono::milliseconds timeout) const;
    // Asks a running transfer to stop; it ends as canceled.
    void Cancel();
    [[nodiscard]] bool ShouldContinue() const { return !m_cancelRequested.load(); }

    // Used by the transfer manager.
    void UpdateStatus(S3TransferStatus status);
    void SetError(const S3Error &error);
    void MarkFinished();

private:
    const QString m_bucketName;
    const QString m_key;
    const QString m_targetFilePath;
    const QString m_contentType;
    const std::shared_ptr<const S3TransferContext> m_context;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_finishedCondition;
    S3TransferStatus m_status = S3TransferStatus::NotStarted;
    S3Error m_lastError;
    bool m_finished = false;
    std::atomic<bool> m_cancelRequested{false};
};

QDebug operator<<(QDebug debug, const S3TransferHandle &handle);
QDebug operator<<(QDebug debug, S3TransferStatus status);
