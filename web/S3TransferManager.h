#pragma once

#include "S3Error.h"
#include "S3TransferContext.h"
#include "S3TransferHandle.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// Uploads files to S3 (or an S3-compatible store) with libcurl, each on a thread of its own, and
// reports their progress through callbacks on those threads. Requests are signed with AWS
// Signature Version 4; the payload itself is not signed.
class S3TransferManager
{
public:
    using TransferCallback = std::function<void(const S3TransferManager *,
                                                const std::shared_ptr<const S3TransferHandle> &)>;
    using ErrorCallback =
        std::function<void(const S3TransferManager *,
                           const std::shared_ptr<const S3TransferHandle> &, const S3Error &)>;

    struct Config
    {
        QString accessKeyId;
        QString secretAccessKey;
        QString sessionToken;
        QString scheme = QStringLiteral("https");
        QString region = QStringLiteral("us-east-1");
        long connectTimeoutMs = 10000;
        // Like the AWS SDK: the longest time a transfer may go without moving a byte.
        long requestTimeoutMs = 20000;
        // The rate below which a transfer counts as not progressing (for requestTimeoutMs).
        long lowSpeedLimitBytesPerSecond = 1;
        bool enableTcpKeepAlive = true;
        // BUCKET.s3.amazonaws.com/KEY, except for bucket names with dots, which the wildcard
        // certificate does not cover; an endpoint override always addresses ENDPOINT/BUCKET/KEY.
        bool useVirtualAddressing = true;
        // Empty for Amazon S3; set from QUILLORA_S3_ENDPOINT for S3-compatible stores.
        QString endpointOverride = endpointFromEnvironment();

        TransferCallback uploadProgressCallback;
        TransferCallback transferStatusUpdatedCallback;
        TransferCallback transferInitiatedCallback;
        ErrorCallback errorCallback;
    };

    explicit S3TransferManager(Config config);
    // Cancels the transfers still running and waits for their threads.
    ~S3TransferManager();

    S3TransferManager(const S3TransferManager &) = delete;
    S3TransferManager &operator=(const S3TransferManager &) = delete;

    std::shared_ptr<S3TransferHandle> UploadFile(const QString &localPath,
                                                 const QString &bucketName, const QString &key,
                                                 const QString &contentType,
                                                 std::shared_ptr<const S3TransferContext> context);

    // Asks every running transfer to stop; they end as canceled.
    void CancelAll();

    [[nodiscard]] QUrl objectUrl(const QString &bucketName, const QString &key) const;

    [[nodiscard]] static QString endpointFromEnvironment();

private:
    void runUpload(const std::shared_ptr<S3TransferHandle> &handle);
    void fail(const std::shared_ptr<S3TransferHandle> &handle, const S3Error &error);
    void reapFinishedTransfers();

    const Config m_config;
    std::mutex m_transfersMutex;
    std::vector<std::pair<std::thread, std::shared_ptr<S3TransferHandle>>> m_transfers;
};
