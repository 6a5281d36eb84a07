#include "S3TransferHandle.h"

#include <utility>

S3TransferHandle::S3TransferHandle(const QString &bucketName, const QString &key,
                                   const QString &targetFilePath, const QString &contentType,
                                   std::shared_ptr<const S3TransferContext> context)
    : m_bucketName(bucketName), m_key(key), m_targetFilePath(targetFilePath),
      m_contentType(contentType), m_context(std::move(context))
{}

S3TransferStatus S3TransferHandle::GetStatus() const
{
    const std::lock_guard lock(m_mutex);
    return m_status;
}

S3Error S3TransferHandle::GetLastError() const
{
    const std::lock_guard lock(m_mutex);
    return m_lastError;
}

bool S3TransferHandle::IsFinished() const
{
    const std::lock_guard lock(m_mutex);
    return m_finished;
}

void S3TransferHandle::WaitUntilFinished() const
{
    std::unique_lock lock(m_mutex);
    m_finishedCondition.wait(lock, [this] { return m_finished; });
}

bool S3TransferHandle::WaitUntilFinished(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_finishedCondition.wait_for(lock, timeout, [this] { return m_finished; });
}

void S3TransferHandle::Cancel()
{
    m_cancelRequested = true;
}

void S3TransferHandle::UpdateStatus(S3TransferStatus status)
{
    const std::lock_guard lock(m_mutex);
    m_status = status;
}

void S3TransferHandle::SetError(const S3Error &error)
{
    const std::lock_guard lock(m_mutex);
    m_lastError = error;
}

void S3TransferHandle::MarkFinished()
{
    {
        const std::lock_guard lock(m_mutex);
        m_finished = true;
    }
    m_finishedCondition.notify_all();
}

QDebug operator<<(QDebug debug, const S3TransferHandle &handle)
{
    const QDebugStateSaver saver(debug);
    debug.nospace().noquote() << "S3TransferHandle{key=" << handle.GetKey()
                              << ", targetFilePath=" << handle.GetTargetFilePath()
                              << ", contentType=" << handle.GetContentType() << "}";
    return debug;
}

QDebug operator<<(QDebug debug, S3TransferStatus status)
{
    const QDebugStateSaver saver(debug);
    switch (status) {
    case S3TransferStatus::NotStarted:
        return debug.noquote() << "NOT_STARTED";
    case S3TransferStatus::InProgress:
        return debug.noquote() << "IN_PROGRESS";
    case S3TransferStatus::Completed:
        return debug.noquote() << "COMPLETED";
    case S3TransferStatus::Failed:
        return debug.noquote() << "FAILED";
    case S3TransferStatus::Canceled:
        return debug.noquote() << "CANCELED";
    case S3TransferStatus::Aborted:
        return debug.noquote() << "ABORTED";
    }
    return debug;
}
