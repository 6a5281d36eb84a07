#pragma once

#include "S3TransferContext.h"
#include "S3TransferHandle.h"
#include "S3TransferManager.h"

#include <QDebug>
#include <QList>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <memory>

// What the web service handed out for one live stream: where its slides go and with which
// temporary credentials.
struct LiveStreamUploaderConfig
{
    QString presentationId;
    qint64 presentationStreamId = 0;
    qint64 presentationStreamStart = 0;
    int presentationStreamVersion = 0;
    QString bucket;
    QString prefix;
    QString accessKeyId;
    QString secretAccessKey;
    QString sessionToken;
};

// Travels with one transfer into the transfer manager's callbacks.
class LiveStreamUploaderContext : public S3TransferContext
{
public:
    LiveStreamUploaderContext(int screen, qint64 time, const QString &localPath,
                              const QString &remoteBucket, const QString &remotePath);

    [[nodiscard]] int screen() const { return m_screen; }
    [[nodiscard]] qint64 time() const { return m_time; }
    [[nodiscard]] const QString &localPath() const { return m_localPath; }
    [[nodiscard]] const QString &remoteBucket() const { return m_remoteBucket; }
    [[nodiscard]] const QString &remotePath() const { return m_remotePath; }

    [[nodiscard]] QString localName() const;
    [[nodiscard]] QString contentType() const;

private:
    int m_screen;
    qint64 m_time;
    QString m_localPath;
    QString m_remoteBucket;
    QString m_remotePath;
};

QDebug operator<<(QDebug debug, const LiveStreamUploaderContext &context);

// Copies every saved slide of a live stream to S3, one at a time and newest first, on a thread of
// its own; retries a failed transfer up to three attempts in all.
class LiveStreamUploader : public QThread
{
    Q_OBJECT

public:
    struct SlideToUpload
    {
        int screen = 0;
        qint64 time = 0;
        QString filePath;
        int tries = 0;
        int maxTries = 3;
    };

    explicit LiveStreamUploader(const LiveStreamUploaderConfig &config);
    ~LiveStreamUploader() override;

    [[nodiscard]] qint64 slidesToUpload() const { return m_slidesToUpload; }
    [[nodiscard]] qint64 slidesUploaded() const { return m_slidesUploaded; }
    [[nodiscard]] qint64 slidesUploadFailed() const { return m_slidesUploadFailed; }

Q_SIGNALS:
    void slidesToUploadChanged();
    void slidesUploadedChanged();
    void slidesUploadFailedChanged();
    void slideAdded();
    void slideUploaded(int screen, qlonglong time, QString remoteBucket, QString remotePath);
    // A slide given up for good: every attempt failed (or its transfer was canceled or aborted).
    void slideUploadFailed(int screen, qlonglong time, QString name);
    void slideUploadError(QString message);
    void stopped();

public Q_SLOTS:
    void addSlide(int screen, qlonglong time, QString filePath);
    void requestStop();

protected:
    void run() override;

private:
    void uploadSlide(LiveStreamUploader::SlideToUpload &slide);

    void awsUploadProgressCallback(const S3TransferManager *manager,
                                   const std::shared_ptr<const S3TransferHandle> &handle);
    void awsTransferStatusUpdatedCallback(const S3TransferManager *manager,
                                          const std::shared_ptr<const S3TransferHandle> &handle);
    void awsTransferInitiatedCallback(const S3TransferManager *manager,
                                      const std::shared_ptr<const S3TransferHandle> &handle);
    void awsErrorCallback(const S3TransferManager *manager,
                          const std::shared_ptr<const S3TransferHandle> &handle,
                          const S3Error &error);

    const LiveStreamUploaderConfig m_config;
    bool m_stopRequested = false;
    bool m_abandoned = false;
    QWaitCondition m_wakeUp;
    QMutex m_mutex;
    QList<LiveStreamUploader::SlideToUpload> m_queue;
    qint64 m_slidesToUpload = 0;
    qint64 m_slidesUploaded = 0;
    qint64 m_slidesUploadFailed = 0;
    std::unique_ptr<S3TransferManager> m_transferManager;
};
