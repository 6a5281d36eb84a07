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
}

void SlideSource::stopCaptureTimer()
{
    m_captureTimer.reset();
}

void SlideSource::captureNow()
{
    capture(true);
    if (m_captureTimer)
        m_captureTimer->start();
}
