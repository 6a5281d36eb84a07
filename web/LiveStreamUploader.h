#pragma once

#include "S3TransferContext.h"
#include "S3TransferHandle.h"
#include "S3TransferManager.h"

#include <QDeadlineTimer>
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
                              const QString &remoteBucket, const QString &remotePath,
                              bool reportFailure = true);

    [[nodiscard]] int screen() const { return m_screen; }
    [[nodiscard]] qint64 time() const { return m_time; }
    [[nodiscard]] const QString &localPath() const { return m_localPath; }
    [[nodiscard]] const QString &remoteBucket() const { return m_remoteBucket; }
    [[nodiscard]] const QString &remotePath() const { return m_remotePath; }

    [[nodiscard]] QString localName() const;
    [[nodiscard]] QString contentType() const;
    // Whether a failure of this transfer is reported to the user; later tries of a slide that
    // already failed its first round are only logged.
    [[nodiscard]] bool reportFailure() const { return m_reportFailure; }

private:
    int m_screen;
    qint64 m_time;
    QString m_localPath;
    QString m_remoteBucket;
    QString m_remotePath;
    bool m_reportFailure;
};

QDebug operator<<(QDebug debug, const LiveStreamUploaderContext &context);

// Copies every saved slide of a live stream to S3, one at a time and newest first, on a thread of
// its own. A slide whose first three attempts failed waits and is tried again after growing
// pauses for as long as the stream runs; the stop gives what is left until its deadline.
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
        // Order of arrival: the larger, the newer.
        quint64 order = 0;
        // Set while the slide waits for its next try after a failed round.
        QDeadlineTimer notBefore;
    };

    explicit LiveStreamUploader(const LiveStreamUploaderConfig &config);
    ~LiveStreamUploader() override;

    [[nodiscard]] qint64 slidesToUpload() const { return m_slidesToUpload; }
    [[nodiscard]] qint64 slidesUploaded() const { return m_slidesUploaded; }
    [[nodiscard]] qint64 slidesUploadFailed() const { return m_slidesUploadFailed; }

    // Keeps trying what is queued until deadline, then gives up the rest and stops.
    void requestStopBy(const QDeadlineTimer &deadline);

Q_SIGNALS:
    void slidesToUploadChanged();
    void slidesUploadedChanged();
    void slidesUploadFailedChanged();
    void slideAdded();
    void slideUploaded(int screen, qlonglong time, QString remoteBucket, QString remotePath);
    // A slide given up for good: its file cannot be read, or the stop's deadline came first.
    void slideUploadFailed(int screen, qlonglong time, QString name);
    void slideUploadError(QString message);
    void stopped();

public Q_SLOTS:
    void addSlide(int screen, qlonglong time, QString filePath);
    // Stops within the stop budget (RetryPause::stopBudgetMs).
    void requestStop();

protected:
    void run() override;

private:
    void uploadSlide(LiveStreamUploader::SlideToUpload &slide);
    // With the lock held.
    void promoteDueSlides();
    void enqueueByOrder(const SlideToUpload &slide);
    [[nodiscard]] bool stopDeadlinePassed() const;
    void giveUpRemaining();

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
    // Slides that failed a round of tries and wait for their pause to end.
    QList<LiveStreamUploader::SlideToUpload> m_waiting;
    QDeadlineTimer m_stopDeadline{QDeadlineTimer::Forever};
    quint64 m_nextOrder = 0;
    qint64 m_slidesToUpload = 0;
    qint64 m_slidesUploaded = 0;
    qint64 m_slidesUploadFailed = 0;
    std::unique_ptr<S3TransferManager> m_transferManager;
};
