#include "SlideSourceScreenInterval.h"

#include "ScreenGrabber.h"

#include <QDebug>
#include <QGuiApplication>
#include <QScreen>

SlideSourceScreenInterval::SlideSourceScreenInterval(const SlidesSourceInfo &info)
    : SlideSource(info)
{}

SlideSourceScreenInterval::~SlideSourceScreenInterval()
{
    // Owners wait for the thread before deleting; this only keeps run() from outliving the
    // object if one does not.
    requestStop();
    wait();
}

void SlideSourceScreenInterval::run()
{
    emit slidesFrozenChanged();
    emit slidesResolutionsChanged();

    // Made here so that it belongs to the source thread, like everything it grabs with.
    m_grabber = ScreenGrabber::create();
    connect(m_grabber.get(), &ScreenGrabber::grabError, this, &SlideSource::captureError);
    qDebug() << "[SlideSourceScreenInterval]"
             << "grabbing with" << m_grabber->name();
    startCaptureTimer();

    restartTimer();
    emit ready();

    exec();

    stopCaptureTimer();
    m_grabber.reset();
    emit stopped();
}

void SlideSourceScreenInterval::captureSlide()
{
    captureNow();
}

void SlideSourceScreenInterval::capture(bool forceNewSlide)
{
    const qint64 time = currentSlideTime();
    if (!m_grabber)
        return;
    QList<SlideImage> batch;
    const QList<QScreen *> screens = QGuiApplication::screens();
    batch.reserve(screens.size());
    for (int i = 0; i < int(screens.size()); ++i)
        batch.append(m_grabber->grab(i, screens.at(i)));
    if (int(screens.size()) < m_screenCount)
        m_grabber->releaseScreensFrom(int(screens.size()));
    m_screenCount = int(screens.size());
    updateSlidesResolutions(batch);
    deliver(time, batch, forceNewSlide);
}
