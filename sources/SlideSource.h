#pragma once

#include "SlideImage.h"
#include "SlidesSourceInfo.h"

#include <QList>
#include <QMutex>
#include <QThread>
#include <QVariant>

#include <atomic>
#include <functional>
#include <limits>
#include <memory>

class QTimer;

// A source of slide pictures. Each source is a thread that lives in itself: its slots, timers and
// captures run in its own event loop, and batches leave by the queued slidesCaptured() signal.
// The one receiver of slidesCaptured() owns the matrices of every batch it receives.
class SlideSource : public QThread
{
    Q_OBJECT

public:
    // The source for the description, or null for a kind this build cannot capture from. The
    // caller owns the result and deletes it only after its thread has finished.
    [[nodiscard]] static SlideSource *create(const SlidesSourceInfo &info);

    explicit SlideSource(const SlidesSourceInfo &info);
    ~SlideSource() override;

    [[nodiscard]] const SlidesSourceInfo &slidesSourceInfo() const { return m_slidesSourceInfo; }
    [[nodiscard]] virtual bool slidesFrozen() const;
    // One map ("width", "height") per picture of the latest batch; safe from any thread.
    [[nodiscard]] QList<QVariant> slidesResolutions() const;
    // Milliseconds since the latest restartTimer(); 0 before the first one.
    [[nodiscard]] qint64 currentSlideTime() const;

    // Asked on the source thread before every periodic capture: while it answers true the capture
    // is skipped, so that a pipeline that cannot keep up never piles pictures up in memory.
    // Forced captures (the user's command) are not held back. Set before start().
    void setPipelineFullCheck(std::function<bool()> isPipelineFull);

    // A recording holds its source's pictures back until every part of it has started, so that no
    // slide is saved or sent on a clock that is not yet the recording's. Held, the source captures
    // at once when it starts and then as usual, but hands nothing on; it still tells through
    // firstPictureCaptured() that it delivers. Call before start().
    void holdPictures();
    // Ends the hold: a capture follows at once. Safe from any thread.
    void releasePictures();
    [[nodiscard]] bool hasCapturedPicture() const { return m_pictureCaptured.load(); }

signals:
    void captureError(const QString &error);
    void slidesFrozenChanged();
    void slidesResolutionsChanged();
    void slidesCaptured(qint64 time, const QList<SlideImage> &slides, bool forceNewSlide);
    void ready();
    void stopped();
    // Once, with the first picture the device delivered (held back or not).
    void firstPictureCaptured();
    // The device stopped delivering after it had delivered (unplugged, no signal, a sender that
    // went away), and its return; each reported once per outage, with deviceLabel(). Meanwhile
    // the source tries to open the device again.
    void deviceLost(const QString &device);
    void deviceReturned(const QString &device);

public slots:
    virtual void requestStop();
    void restartTimer();
    virtual void freezeSlides();
    virtual void captureSlide() = 0;

protected:
    void updateSlidesResolutions(const QList<SlideImage> &slides);

    // One capture: the time first, then the picture(s), the resolutions and deliver().
    virtual void capture(bool forceNewSlide) = 0;
    // Hands a batch on (or frees it while pictures are held) and counts it as a delivery of the
    // device.
    void deliver(qint64 time, const QList<SlideImage> &slides, bool forceNewSlide);
    // A capture that got no picture from the device. After failuresBeforeLost() of them in a row
    // a device that has delivered before counts as lost; reason goes to the log.
    void captureFailed(const QString &reason);
    [[nodiscard]] bool deviceIsLost() const { return m_deviceLost; }
    // How the messages name the device, e.g. Camera "USB capture".
    [[nodiscard]] virtual QString deviceLabel() const;
    [[nodiscard]] virtual int failuresBeforeLost() const { return 1; }
    // The periodic capture, once a second unless frozen. Started and stopped in run(), so that
    // the timer belongs to the source thread.
    void startCaptureTimer();
    void stopCaptureTimer();
    // A capture now (forced unless said otherwise); the next periodic one comes a full interval
    // after it.
    void captureNow(bool forceNewSlide = true);

private:
    // Logs the start and the end of a run of skipped captures, not every one of them.
    bool skipForFullPipeline();

    // Sentinel for a slide clock that was never started.
    static constexpr qint64 clockNotStarted = std::numeric_limits<qint64>::min();

    SlidesSourceInfo m_slidesSourceInfo;
    // The slide clock's reference point on the monotonic clock; restartTimer() is called from the
    // source thread and from the recorder's thread, so it is one atomic value.
    std::atomic<qint64> m_slideTimerStartMs{clockNotStarted};
    std::atomic<bool> m_slidesFrozen{false};
    mutable QMutex m_slidesResolutionsMutex;
    QList<QVariant> m_slidesResolutions;
    std::unique_ptr<QTimer> m_captureTimer;
    std::function<bool()> m_isPipelineFull;
    std::atomic<bool> m_picturesHeld{false};
    std::atomic<bool> m_pictureCaptured{false};
    // Source thread only.
    qint64 m_skippedCaptures = 0;
    int m_failedCaptures = 0;
    bool m_deviceLost = false;
};
