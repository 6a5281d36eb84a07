#pragma once

#include "LiveStreamUploader.h"
#include "SlideAnnouncer.h"

#include <QDeadlineTimer>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>

// The live stream of one recording: creates (or resumes) the stream at the web service, uploads
// every saved slide through its uploader and announces each uploaded slide to the web service.
// Failed uploads and announcements are tried again as long as the stream runs; its stop gives
// what is still pending a bounded time.
class LiveStream : public QObject
{
    Q_OBJECT

public:
    // presentation is the recording's Presentation. Only its "title" and
    // "livestreamPresentationId" properties are used, through the meta-object.
    LiveStream(QObject *presentation, bool connectToExistingLiveStream,
               const QString &presentationId);
    ~LiveStream() override;

    void requestStart();
    void requestStop();

    [[nodiscard]] bool isRunning() const { return m_running; }
    [[nodiscard]] int presentationStreamVersion() const
    {
        return m_uploaderConfig.presentationStreamVersion;
    }
    [[nodiscard]] qint64 presentationStreamStart() const
    {
        return m_uploaderConfig.presentationStreamStart;
    }
    [[nodiscard]] qint64 slidesToUpload() const;
    [[nodiscard]] qint64 slidesUploaded() const;
    [[nodiscard]] qint64 slidesUploadFailed() const;
    [[nodiscard]] qint64 slideInfoWebSuccessCount() const { return m_announcer.successCount(); }
    [[nodiscard]] qint64 slideInfoWebFailCount() const { return m_announcer.failCount(); }
    [[nodiscard]] bool lastSlideInfoWebSuccess() const { return m_announcer.lastSuccess(); }
    [[nodiscard]] QNetworkReply::NetworkError lastSlideInfoWebError() const
    {
        return static_cast<QNetworkReply::NetworkError>(m_announcer.lastError());
    }
    [[nodiscard]] QString lastSlideInfoWebErrorString() const
    {
        return m_announcer.lastErrorString();
    }
    // Uploaded slides whose announcement has not got through yet.
    [[nodiscard]] qint64 slidesToAnnounce() const { return m_announcer.pendingCount(); }

Q_SIGNALS:
    void started();
    void stopped();
    void startFailed(QString message);
    void slideUploadError(QString message);
    void slidesToUploadChanged();
    void slidesUploadedChanged();
    void slidesUploadFailedChanged();
    void slideInfoWebSuccessCountChanged();
    void slideInfoWebFailCountChanged();
    void lastSlideInfoWebSuccessChanged();
    void lastSlideInfoWebErrorChanged();
    void lastSlideInfoWebErrorStringChanged();

public Q_SLOTS:
    void uploadSlide(int screen, qlonglong time, QString filePath);

private Q_SLOTS:
    void handleLiveStreamCreateError(QNetworkReply::NetworkError error);
    void createLiveStreamUploader();
    void handleLiveStreamUploaderStopped();
    void sendLiveStreamSlideInfoToWeb(int screen, qlonglong time, QString remoteBucket,
                                      QString remotePath);

private:
    void failStart(const QString &message);

    bool m_running = false;
    QPointer<QObject> m_presentation;
    bool m_connectToExistingLiveStream;
    QString m_requestedPresentationId;
    LiveStreamUploaderConfig m_uploaderConfig;
    LiveStreamUploader *m_uploader = nullptr;
    SlideAnnouncer m_announcer;
    QDeadlineTimer m_stopDeadline;
    bool m_stopRequested = false;
};
