#pragma once

#include "AudioRecorder.h"
#include "DeviceOutages.h"
#include "DiskSpaceGuard.h"
#include "MouseRecorder.h"
#include "RecordingErrorList.h"
#include "ScreenGeometryRecorder.h"
#include "SlideRecorder.h"
#include "VMixApiPoller.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariantList>

#include <memory>

class Presentation;

// Runs one recording at a time: creates the presentation directory, starts the slide, audio,
// mouse and screen geometry recorders with one time origin, and stops them as one. A live stream
// also reports its health to the web service with a status ping every few seconds.
class Recorder : public QObject
{
    Q_OBJECT
    Q_PROPERTY(Recorder::State state READ state WRITE setState NOTIFY property_stateChanged)
    Q_PROPERTY(QStringList missingDevices READ missingDevices NOTIFY missingDevicesChanged)

public:
    enum State
    {
        Stopped = 0,
        Started = 1,
        Stopping = 2,
        Starting = 3
    };
    Q_ENUM(State)

    // At most this many of the latest error messages travel in a status ping.
    static constexpr int maxPingErrorMessages = 20;
    // How long a start may take from the user's command until every part runs: the chosen slide
    // source and audio input present (network sources such as NDI are discovered over seconds),
    // opened, and delivering. A live stream's creation at the web service is not counted; its own
    // requests time out.
    static constexpr int startTimeoutMs = 10000;
    // How often the start looks for the sources meanwhile.
    static constexpr int sourcePollMs = 100;

    explicit Recorder(QObject *parent = nullptr);
    ~Recorder() override;

    [[nodiscard]] State state() const { return m_state; }
    void setState(State newVal);

    [[nodiscard]] bool isLiveStream() const { return m_slideRecorder.isLiveStream(); }
    [[nodiscard]] QString liveStreamPresentationId() const
    {
        return m_slideRecorder.liveStreamPresentationId();
    }
    [[nodiscard]] QString liveStreamPresentationTitle() const
    {
        return m_slideRecorder.liveStreamPresentationTitle();
    }
    [[nodiscard]] bool slidesFrozen() const { return m_slideRecorder.slidesFrozen(); }
    [[nodiscard]] QVariantList slidesResolutions() const
    {
        return m_slideRecorder.slidesResolutions();
    }
    [[nodiscard]] qint64 slidesCaptured() const { return m_slideRecorder.slidesCaptured(); }
    [[nodiscard]] qint64 slidesSaved() const { return m_slideRecorder.slidesSaved(); }
    [[nodiscard]] qint64 slidesToUpload() const { return m_slideRecorder.slidesToUpload(); }
    [[nodiscard]] qint64 slidesUploaded() const { return m_slideRecorder.slidesUploaded(); }
    [[nodiscard]] qint64 slidesUploadFailed() const { return m_slideRecorder.slidesUploadFailed(); }
    [[nodiscard]] qint64 slideInfoWebSuccessCount() const
    {
        return m_slideRecorder.slideInfoWebSuccessCount();
    }
    [[nodiscard]] qint64 slideInfoWebFailCount() const
    {
        return m_slideRecorder.slideInfoWebFailCount();
    }
    [[nodiscard]] bool lastSlideInfoWebSuccess() const
    {
        return m_slideRecorder.lastSlideInfoWebSuccess();
    }
    [[nodiscard]] QNetworkReply::NetworkError lastSlideInfoWebError() const
    {
        return m_slideRecorder.lastSlideInfoWebError();
    }
    [[nodiscard]] QString lastSlideInfoWebErrorString() const
    {
        return m_slideRecorder.lastSlideInfoWebErrorString();
    }
    [[nodiscard]] qint64 mousePositionX() const { return m_mouseRecorder.positionX(); }
    [[nodiscard]] qint64 mousePositionY() const { return m_mouseRecorder.positionY(); }

    // The presentation of the running recording; null when stopped.
    [[nodiscard]] Presentation *presentation() const { return m_presentation.get(); }
    [[nodiscard]] QStringList recordingErrors() const { return m_recordingErrors.messages(); }
    // Labels of the devices lost during the running recording and not back yet.
    [[nodiscard]] QStringList missingDevices() const { return m_outages.missing(); }

Q_SIGNALS:
    void started();
    void stopped();
    void slidesCapturedSignal(QList<QImage> images);
    void presentationCreated(Presentation *presentation);
    void property_stateChanged(Recorder::State state);
    void liveStreamStartFailed(QString message);
    void recordingError(QString message);
    void slidesFrozenChanged();
    void slidesResolutionsChanged();
    void slidesCapturedChanged();
    void slidesSavedChanged();
    void slidesToUploadChanged();
    void slidesUploadedChanged();
    void slidesUploadFailedChanged();
    void slideInfoWebSuccessCountChanged();
    void slideInfoWebFailCountChanged();
    void lastSlideInfoWebSuccessChanged();
    void lastSlideInfoWebErrorChanged();
    void lastSlideInfoWebErrorStringChanged();
    void mousePositionChanged();
    // The start did not succeed (no directory, an absent source, no room on the disk ...); the
    // recorder is back to Stopped with stopped() right after.
    void startFailed(QString message);
    // A running recording was stopped by a fault (a failed write, a full disk); stopped() follows
    // once every file is finished.
    void recordingFailed(QString message);
    void missingDevicesChanged();
    // The recording ended normally, but without a device that was lost and did not come back:
    // which, and for how long (see DeviceOutages::summary). Right before stopped().
    void endedWithMissingDevices(QString message);

public Q_SLOTS:
    void requestStart(bool liveStream, bool connectToExistingLiveStream,
                      QString livestreamPresentationId);
    void requestStop();
    void freezeSlides();
    void captureSlide();

private Q_SLOTS:
    void slideRecorderStarted();
    void slideRecorderStopped();
    void audioRecorderStarted();
    void audioRecorderStopped();
    void mouseRecorderStopped();
    void screenGeometryRecorderStopped();
    void checkStart();
    void start();
    void checkStop();
    void stop();
    void sendWebApiPingData();

private:
    void waitForSources();
    void beginRecording();
    void startTimedOut();
    // A sub-recorder's device went away or came back: reported, and shown while it is missing.
    void onDeviceLost(const QString &device);
    void onDeviceReturned(const QString &device);
    [[nodiscard]] qint64 recordingMs() const;
    void restartPingTimer();
    void failStart(const QString &message);
    // A fault that ends the recording: reported, remembered as the reason, and the recording
    // stops as with the Stop button so that everything written so far stays intact.
    void failRecording(const QString &message);
    void finishStop();

    struct StartRequest
    {
        bool liveStream = false;
        bool connectToExistingLiveStream = false;
        QString livestreamPresentationId;
    };

    State m_state = Stopped;
    std::unique_ptr<Presentation> m_presentation;
    SlideRecorder m_slideRecorder;
    AudioRecorder m_audioRecorder;
    MouseRecorder m_mouseRecorder;
    ScreenGeometryRecorder m_screenGeometryRecorder;
    VMixApiPoller m_vMixApiPoller;
    DiskSpaceGuard m_diskSpaceGuard;
    QTimer m_pingTimer;
    QTimer m_sourceWaitTimer;
    QTimer m_startTimeout;
    // From the start of the audio: the recording's clock.
    QElapsedTimer m_recordingClock;
    DeviceOutages m_outages;
    StartRequest m_startRequest;
    QDateTime m_recordingStart;
    RecordingErrorList m_recordingErrors;
    QString m_failure;
    bool m_stopRequestedByUser = false;
    bool m_liveStreamFailed = false;
};
