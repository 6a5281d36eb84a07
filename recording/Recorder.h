#pragma once

#include "AudioRecorder.h"
#include "MouseRecorder.h"
#include "ScreenGeometryRecorder.h"
#include "SlideRecorder.h"
#include "VMixApiPoller.h"

#include <QDateTime>
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

    explicit Recorder(QObject *parent = nullptr);
    ~Recorder() override;

    [[nodiscard]] State state() const { return m_state; }
    void setState(State newVal);

    [[nodiscard]] bool isLiveStream() const;
    [[nodiscard]] QString liveStreamPresentationId() const;
    [[nodiscard]] QString liveStreamPresentationTitle() const;
    [[nodiscard]] bool slidesFrozen() const;
    [[nodiscard]] QVariantList slidesResolutions() const;
    [[nodiscard]] qint64 slidesCaptured() const;
    [[nodiscard]] qint64 slidesSaved() const;
    [[nodiscard]] qint64 slidesToUpload() const;
    [[nodiscard]] qint64 slidesUploaded() const;
    [[nodiscard]] qint64 slidesUploadFailed() const;
    [[nodiscard]] qint64 slideInfoWebSuccessCount() const;
    [[nodiscard]] qint64 slideInfoWebFailCount() const;
    [[nodiscard]] bool lastSlideInfoWebSuccess() const;
    [[nodiscard]] QNetworkReply::NetworkError lastSlideInfoWebError() const;
    [[nodiscard]] QString lastSlideInfoWebErrorString() const;
    [[nodiscard]] qint64 mousePositionX() const;
    [[nodiscard]] qint64 mousePositionY() const;

    // The presentation of the running recording; null when stopped.
    [[nodiscard]] Presentation *presentation() const { return m_presentation.get(); }
    [[nodiscard]] QStringList recordingErrors() const { return m_recordingErrors; }

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
    void restartPingTimer();

    State m_state = Stopped;
    std::unique_ptr<Presentation> m_presentation;
    SlideRecorder m_slideRecorder;
    AudioRecorder m_audioRecorder;
    MouseRecorder m_mouseRecorder;
    ScreenGeometryRecorder m_screenGeometryRecorder;
    VMixApiPoller m_vMixApiPoller;
    QTimer m_pingTimer;
    QDateTime m_recordingStart;
    QStringList m_recordingErrors;
};
