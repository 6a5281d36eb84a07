#include "SlideSource.h"

#include "SlideSourceCamera.h"
#include "SlideSourceNDI.h"
#include "SlideSourceScreenInterval.h"

#include <QDebug>
#include <QMutexLocker>
#include <QTimer>
#include <QVariantMap>

#include <chrono>

namespace {

qint64 monotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

SlideSource *SlideSource::create(const SlidesSourceInfo &info)
{
    switch (info.type()) {
    case SlidesSourceInfo::ScreenInterval:
        return new SlideSourceScreenInterval(info);
    case SlidesSourceInfo::Camera:
        return new SlideSourceCamera(info);
    case SlidesSourceInfo::NDI:
        return new SlideSourceNDI(info);
    default:
        qWarning() << "[SlideSource]"
                   << "unhandled slide source type" << int(info.type());
        return nullptr;
    }
}

SlideSource::SlideSource(const SlidesSourceInfo &info) : m_slidesSourceInfo(info)
{
    SlideImage::registerMetaTypes();
    moveToThread(this);
}

SlideSource::~SlideSource()
{
    qDebug() << "[SlideSource::~SlideSource]";
}

bool SlideSource::slidesFrozen() const
{
    return m_slidesFrozen.load();
}

QList<QVariant> SlideSource::slidesResolutions() const
{
    QMutexLocker locker(&m_slidesResolutionsMutex);
    return m_slidesResolutions;
}

qint64 SlideSource::currentSlideTime() const
{
    const qint64 start = m_slideTimerStartMs.load();
    if (start == clockNotStarted)
        return 0;
    return monotonicMs() - start;
}

void SlideSource::setPipelineFullCheck(std::function<bool()> isPipelineFull)
{
    m_isPipelineFull = std::move(isPipelineFull);
}

bool SlideSource::skipForFullPipeline()
{
    const bool full = m_isPipelineFull && m_isPipelineFull();
    if (full) {
        if (m_skippedCaptures++ == 0)
            qInfo() << "[SlideSource]"
                    << "pipeline full, skipping captures until it has room";
    } else if (m_skippedCaptures > 0) {
        qInfo() << "[SlideSource]"
                << "pipeline has room again after" << m_skippedCaptures << "skipped captures";
        m_skippedCaptures = 0;
    }
    return full;
}

void SlideSource::holdPictures()
{
    m_picturesHeld.store(true);
}

void SlideSource::releasePictures()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_picturesHeld.exchange(false))
                return;
            if (m_captureTimer)
                captureNow(false);
        },
        Qt::QueuedConnection);
}

QString SlideSource::deviceLabel() const
{
    return QStringLiteral("Slide source \"%1\"").arg(m_slidesSourceInfo.name());
}

void SlideSource::deliver(qint64 time, const QList<SlideImage> &slides, bool forceNewSlide)
{
    m_failedCaptures = 0;
    if (m_deviceLost) {
        m_deviceLost = false;
        qInfo().noquote() << "[SlideSource]" << deviceLabel() << "delivers again";
        emit deviceReturned(deviceLabel());
    }
    if (!m_pictureCaptured.exchange(true))
        emit firstPictureCaptured();
    if (m_picturesHeld.load()) {
        SlideImage::releaseFrames(slides);
        return;
    }
    emit slidesCaptured(time, slides, forceNewSlide);
}

void SlideSource::captureFailed(const QString &reason)
{
    ++m_failedCaptures;
    if (m_deviceLost || !m_pictureCaptured.load() || m_failedCaptures < failuresBeforeLost()) {
        qDebug().noquote() << "[SlideSource]" << deviceLabel() << reason;
        return;
    }
    m_deviceLost = true;
    // Reported to the user as a recording error; the log only notes it.
    qInfo().noquote() << "[SlideSource]" << deviceLabel() << "lost:" << reason;
    emit deviceLost(deviceLabel());
}

void SlideSource::requestStop()
{
    exit(0);
}

void SlideSource::restartTimer()
{
    m_slideTimerStartMs.store(monotonicMs());
}

void SlideSource::freezeSlides()
{
    m_slidesFrozen.store(!m_slidesFrozen.load());
    emit slidesFrozenChanged();
}

void SlideSource::updateSlidesResolutions(const QList<SlideImage> &slides)
{
    QList<QVariant> resolutions;
    resolutions.reserve(slides.size());
    for (const SlideImage &slide : slides) {
        const QSizeF size = slide.image.deviceIndependentSize();
        resolutions.append(QVariantMap{{QStringLiteral("width"), size.width()},
                                       {QStringLiteral("height"), size.height()}});
    }
    {
        QMutexLocker locker(&m_slidesResolutionsMutex);
        m_slidesResolutions = std::move(resolutions);
    }
    emit slidesResolutionsChanged();
}

void SlideSource::startCaptureTimer()
{
    m_captureTimer = std::make_unique<QTimer>();
    m_captureTimer->setSingleShot(false);
    m_captureTimer->setInterval(1000);
    connect(m_captureTimer.get(), &QTimer::timeout, this, [this] {
        if (!slidesFrozen() && !skipForFullPipeline())
            capture(false);
    });
    m_captureTimer->start();
    // A held source shows at once that it delivers, instead of a second later.
    if (m_picturesHeld.load())
        QTimer::singleShot(0, this, [this] { captureNow(false); });
}

void SlideSource::stopCaptureTimer()
{
    m_captureTimer.reset();
}

void SlideSource::captureNow(bool forceNewSlide)
{
    capture(forceNewSlide);
    if (m_captureTimer)
        m_captureTimer->start();
}
