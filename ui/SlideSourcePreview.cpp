#include "SlideSourcePreview.h"

#include "DeviceOutages.h"
#include "MouseListenerPrivate.h"
#include "RecorderSettings.h"
#include "SlideImage.h"
#include "SlideSource.h"
#include "SlidesSourceInfo.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEventLoop>
#include <QPainter>
#include <QQuickWindow>

#include <algorithm>

namespace {

// A listener that cannot take the pointer hook never reports; the preview does not hang on it.
constexpr int mouseListenerStopTimeoutMs = 5000;
// QThread::finished is emitted while the thread still counts as running, so a thread that
// finished just before the wait began is caught by polling.
constexpr int threadFinishPollMs = 20;

} // namespace

SlideSourcePreview::SlideSourcePreview(QQuickItem *parent) : QQuickPaintedItem(parent)
{
    m_refreshTimer.setSingleShot(false);
    m_refreshTimer.setInterval(100);
    connect(&m_refreshTimer, &QTimer::timeout, this, &SlideSourcePreview::doRefresh);

    if (QCoreApplication *application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, &SlideSourcePreview::stop);

    connect(RecorderSettings::instance(),
            &RecorderSettings::property_pointerRecordingEnabledChanged, this,
            &SlideSourcePreview::onPointerRecordingSettingChanged);
}

SlideSourcePreview::~SlideSourcePreview()
{
    // The scene around the item is going away: no signals to it and no nested event loops here.
    blockSignals(true);
    m_refreshTimer.stop();
    if (m_slideSource) {
        m_slideSource->requestStop();
        m_slideSource->wait();
        m_slideSource.reset();
    }
    // Destroying a listener releases its pointer hook.
    m_mouseListener.reset();
    // Batches already queued for this item own their matrices; let the handler free them.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

QString SlideSourcePreview::slideSourceName() const
{
    if (!m_slideSource || m_stopping)
        return QStringLiteral("<not set>");
    return m_slideSource->slidesSourceInfo().name();
}

bool SlideSourcePreview::pointerRecordingAvailable() const
{
    return m_slideSource && !m_stopping &&
           m_slideSource->slidesSourceInfo().type() == SlidesSourceInfo::ScreenInterval;
}

bool SlideSourcePreview::pointerRecordingEnabled() const
{
    return RecorderSettings::instance()->pointerRecordingEnabled();
}

QVariantList SlideSourcePreview::slidesResolutions() const
{
    if (!m_slideSource || m_stopping)
        return {};
    return m_slideSource->slidesResolutions();
}

void SlideSourcePreview::onPointerRecordingSettingChanged()
{
    Q_EMIT pointerRecordingEnabledChanged();
    Q_EMIT slideSourceNameChanged();
    restart();
}

void SlideSourcePreview::setStopping(bool stopping)
{
    m_stopping = stopping;
    Q_EMIT stoppingChanged();
}

void SlideSourcePreview::restart()
{
    if (m_stopping) {
        qWarning() << "[SlideSourcePreview]"
                   << "is being stopped";
        return;
    }
    stop();

    const SlidesSourceInfo selected = RecorderSettings::instance()->selectedSlideSource();
    // None is chosen until the sources are listed, a moment after the start.
    if (!selected.isValid())
        return;
    m_slideSource.reset(SlideSource::create(selected));
    if (!m_slideSource)
        return;
    SlideSource *source = m_slideSource.get();

    Q_EMIT slideSourceNameChanged();
    // Reports of a source that is being stopped are stale.
    connect(source, &SlideSource::ready, this, [this, source]() {
        if (m_slideSource.get() == source)
            m_refreshTimer.start();
    });
    connect(source, &SlideSource::captureError, this, [this, source](const QString &message) {
        if (m_slideSource.get() != source)
            return;
        m_errorMessage = message;
        Q_EMIT errorMessageChanged();
    });
    connect(source, &SlideSource::deviceLost, this, [this, source](const QString &device) {
        if (m_slideSource.get() != source)
            return;
        m_errorMessage = DeviceOutages::lostMessage(device);
        Q_EMIT errorMessageChanged();
    });
    connect(source, &SlideSource::deviceReturned, this, [this, source] {
        if (m_slideSource.get() != source)
            return;
        m_errorMessage.clear();
        Q_EMIT errorMessageChanged();
    });
    connect(source, &SlideSource::slidesResolutionsChanged, this,
            &SlideSourcePreview::slidesResolutionsChanged);
    connect(source, &SlideSource::slidesCaptured, this, &SlideSourcePreview::onSlidesCaptured);

    // Frozen, the source captures only when the refresh timer asks it to.
    QTimer::singleShot(0, source, &SlideSource::freezeSlides);
    source->start();

    m_mouseListener = MouseListenerPrivate::create();
    if (m_mouseListener) {
        connect(m_mouseListener.get(), &MouseListenerPrivate::mousePositionChanged, this,
                [this](qint64 /*time*/, qint64 x, qint64 y) {
                    m_mousePositionX = x;
                    m_mousePositionY = y;
                    Q_EMIT mousePositionXChanged();
                    Q_EMIT mousePositionYChanged();
                });
        m_mouseListener->start();
    }
}

void SlideSourcePreview::doRefresh()
{
    SlideSource *source = m_slideSource.get();
    if (!source || !source->isRunning())
        return;
    QMetaObject::invokeMethod(source, &SlideSource::captureSlide, Qt::QueuedConnection);
}

void SlideSourcePreview::onSlidesCaptured(qint64 /*time*/, const QList<SlideImage> &slides,
                                          bool /*forceNewSlide*/)
{
    const QRectF bounds = boundingRect();
    const qreal dpr = displayPixelRatio();
    const bool allUnchanged = std::all_of(slides.cbegin(), slides.cend(),
                                          [](const SlideImage &slide) { return slide.unchanged; });
    if (m_refreshTimer.isActive() && allUnchanged && !m_images.isEmpty() &&
        m_images.size() == slides.size() && bounds == m_scaledBounds && dpr == m_scaledDpr) {
        // A still screen: the pictures shown are still right, nothing to scale or paint.
        SlideImage::releaseFrames(slides);
        return;
    }
    m_images.clear();
    m_imageSizes.clear();
    m_scaledBounds = bounds;
    m_scaledDpr = dpr;
    if (m_refreshTimer.isActive()) {
        // The picture may live on the matrix's pixels, which go back to the source below: what
        // is kept is the picture as it will be shown, scaled once here rather than at every paint.
        const int count = int(slides.size());
        for (int i = 0; i < count; ++i) {
            const QImage &image = slides.at(i).image;
            m_imageSizes.append(image.size());
            m_images.append(
                scaledForDisplay(image, placement(i, count, image.size(), dpr, bounds), dpr));
        }
    }
    // This item is the batch's only receiver and owns its matrices.
    SlideImage::releaseFrames(slides);
    Q_EMIT loadingChanged();
    update();
}

QImage SlideSourcePreview::scaledForDisplay(const QImage &image, const QRectF &where, qreal dpr)
{
    if (where.isEmpty() || image.isNull())
        return QImage();
    // Fast transformation: the preview is a glance, and it comes ten times a second. RGB32 is what
    // the painter blits without a conversion.
    QImage scaled = image
                        .scaled(qRound(where.width() * dpr), qRound(where.height() * dpr),
                                Qt::KeepAspectRatio, Qt::FastTransformation)
                        .convertToFormat(QImage::Format_RGB32);
    scaled.setDevicePixelRatio(dpr);
    return scaled;
}

qreal SlideSourcePreview::displayPixelRatio() const
{
    return window() ? window()->effectiveDevicePixelRatio() : 1.0;
}

void SlideSourcePreview::stop()
{
    // A stop requested while one waits (a click during the wait) finds nothing left to stop; the
    // outer one ends the stopping state.
    const bool outermost = !m_stopping;
    if (outermost)
        setStopping(true);

    m_errorMessage.clear();
    Q_EMIT errorMessageChanged();
    Q_EMIT slidesResolutionsChanged();

    m_refreshTimer.stop();
    m_images.clear();
    m_imageSizes.clear();
    Q_EMIT loadingChanged();
    update();

    // Owned here while waiting, so that nothing reached from the nested event loops can touch or
    // delete them.
    std::unique_ptr<SlideSource> source = std::move(m_slideSource);
    std::unique_ptr<MouseListenerPrivate> listener = std::move(m_mouseListener);
    if (source)
        waitForSourceEnd(source.get());
    source.reset();
    if (listener)
        waitForListenerStop(listener.get());
    listener.reset();
    // A "ready" that arrived while waiting must not leave the refresh running.
    m_refreshTimer.stop();

    if (outermost)
        setStopping(false);
}

void SlideSourcePreview::waitForSourceEnd(SlideSource *source)
{
    if (source->isRunning()) {
        QEventLoop loop;
        connect(source, &QThread::finished, &loop, &QEventLoop::quit);
        QTimer poll;
        poll.setInterval(threadFinishPollMs);
        connect(&poll, &QTimer::timeout, &loop, [&loop, source]() {
            if (source->isFinished())
                loop.quit();
        });
        source->requestStop();
        if (!source->isFinished()) {
            poll.start();
            loop.exec();
        }
    }
    // The thread has ended: nothing runs in the object any more.
    source->wait();
}

void SlideSourcePreview::waitForListenerStop(MouseListenerPrivate *listener)
{
    QEventLoop loop;
    connect(listener, &MouseListenerPrivate::stopped, &loop, &QEventLoop::quit);
    QTimer::singleShot(mouseListenerStopTimeoutMs, &loop, [&loop]() {
        qWarning() << "[SlideSourcePreview]"
                   << "mouse listener did not report its stop";
        loop.quit();
    });
    listener->requestStop();
    loop.exec();
}

QRectF SlideSourcePreview::placement(int i, int count, const QSize &imageSize,
                                     qreal devicePixelRatio, const QRectF &bounds)
{
    const int columnWidth = static_cast<int>(bounds.width() / count);
    const QSize target(qRound(columnWidth * devicePixelRatio),
                       qRound(static_cast<int>(bounds.height()) * devicePixelRatio));
    const QSize scaled = imageSize.scaled(target, Qt::KeepAspectRatio);
    const qreal x = i * columnWidth;
    const qreal y = (bounds.height() - scaled.height() / devicePixelRatio) / 2.0;
    return QRectF(x, y, scaled.width() / devicePixelRatio, scaled.height() / devicePixelRatio);
}

void SlideSourcePreview::paint(QPainter *painter)
{
    const QRectF bounds = boundingRect();
    if (m_images.isEmpty()) {
        painter->setPen(QColorConstants::Blue);
        painter->setBrush(QColorConstants::Blue);
        painter->drawRect(bounds);
        return;
    }
    const qreal dpr = displayPixelRatio();
    const int count = int(m_images.size());
    for (int i = 0; i < count; ++i) {
        const QRectF where = placement(i, count, m_imageSizes.at(i), dpr, bounds);
        // Drawn one to one unless the item was resized since the capture; the next capture, at
        // most 100 ms later, is scaled for the new size.
        if (!where.isEmpty() && !m_images.at(i).isNull())
            painter->drawImage(where, m_images.at(i));
    }
}
