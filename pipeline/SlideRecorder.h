#pragma once

#include "SlideImage.h"

#include <QImage>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantList>

#include <memory>

class LiveStream;
class Presentation;
class SlideProcessor;
class SlideSaver;
class SlideSource;

// Runs the slide part of one recording: the chosen slide source, the change detection and the
// saver on their own threads, and in a live stream the upload of every saved slide.
class SlideRecorder : public QObject
{
    Q_OBJECT
    Q_PROPERTY(SlideRecorder::State state READ state WRITE setState NOTIFY property_stateChanged)

public:
    enum State
    {
        Stopped = 0,
        Started = 1,
        Stopping = 2,
        Starting = 3
    };
    Q_ENUM(State)

    // Batches that may wait between the source and the end of saving; beyond it the source skips
    // its captures until the processor or the saver catches up.
    static constexpr int maxPendingBatches = 3;

    explicit SlideRecorder(QObject *parent = nullptr);
    ~SlideRecorder() override;

    [[nodiscard]] State state() const { return m_state; }
    void setState(State newVal);

    // Restarts the source's slide clock: slide times then count from this moment.
    void restartSlideTimer();
    // The source's pictures are held back from the start until this call: no slide is saved,
    // uploaded or announced before the whole recording has started.
    void releaseSlides();
    // The source has delivered a picture since the start (held back or not).
    [[nodiscard]] bool sourceDelivers() const;

    [[nodiscard]] bool isLiveStream() const;
    [[nodiscard]] QString liveStreamPresentationId() const;
    [[nodiscard]] QString liveStreamPresentationTitle() const;
    [[nodiscard]] int liveStreamPresentationStreamVersion() const;
    [[nodiscard]] qint64 liveStreamPresentationStreamStart() const;
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

Q_SIGNALS:
    void started();
    void stopped();
    void slidesCapturedSignal(QList<QImage> slide);
    void property_stateChanged(SlideRecorder::State state);
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
    // A slide file could not be written: fatal for the recording, which should be stopped.
    void writeFailed(QString message);
    // The source's first picture, and its device lost and back (see SlideSource).
    void firstPictureCaptured();
    void deviceLost(QString device);
    void deviceReturned(QString device);

public Q_SLOTS:
    void requestStart(Presentation *presentation);
    void requestStop();
    void freezeSlides();
    void captureSlide();

private Q_SLOTS:
    void slideSourceStopped();
    void slideProcessorStopped();
    void slideSaverStopped();
    void liveStreamStopped();
    void onLiveStreamStartFailed(QString message);
    void start();
    void checkStop();
    void stop();

private:
    void emitCapturedCopies(qint64 time, const QList<SlideImage> &slides);

    State m_state = Stopped;
    QPointer<Presentation> m_presentation;
    std::unique_ptr<SlideSource> m_slideSource;
    std::unique_ptr<SlideProcessor> m_slideProcessor;
    std::unique_ptr<SlideSaver> m_slideSaver;
    std::unique_ptr<LiveStream> m_liveStream;
    bool m_slideSourceEnded = false;
    bool m_slideProcessorEnded = false;
    bool m_slideSaverEnded = false;
    bool m_processorStopRequested = false;
    bool m_saverStopRequested = false;
    bool m_liveStreamStopRequested = false;
};
