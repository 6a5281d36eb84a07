#include "SlideSourceScreenInterval.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <memory>

namespace {

// A matrix header over the image's own pixels, without a copy.
cv::Mat wrapImage(const QImage &image, int type)
{
    return cv::Mat(image.height(), image.width(), type, const_cast<uchar *>(image.constBits()),
                   size_t(image.bytesPerLine()));
}

} // namespace

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

    startCaptureTimer();

    restartTimer();
    emit ready();

    exec();

    stopCaptureTimer();
    emit stopped();
}

void SlideSourceScreenInterval::captureSlide()
{
    captureNow();
}

void SlideSourceScreenInterval::capture(bool forceNewSlide)
{
    const qint64 time = currentSlideTime();
    QList<SlideImage> batch;
    const QList<QScreen *> screens = QGuiApplication::screens();
    batch.reserve(screens.size());
    for (QScreen *screen : screens) {
        const QImage image = screen->grabWindow(0, 0, 0, -1, -1).toImage();
        batch.append(SlideImage{qImageToCvMat(image), image});
    }
    updateSlidesResolutions(batch);
    emit slidesCaptured(time, batch, forceNewSlide);
}

cv::Mat *SlideSourceScreenInterval::qImageToCvMat(const QImage &image)
{
    auto mat = std::make_unique<cv::Mat>();
    try {
        switch (image.format()) {
        case QImage::Format_Invalid:
            break;
        case QImage::Format_RGB32:
            cv::cvtColor(wrapImage(image, CV_8UC4), *mat, cv::COLOR_BGRA2BGR);
            break;
        case QImage::Format_ARGB32:
        case QImage::Format_ARGB32_Premultiplied:
            wrapImage(image, CV_8UC4).copyTo(*mat);
            break;
        case QImage::Format_RGB888:
            cv::cvtColor(wrapImage(image, CV_8UC3), *mat, cv::COLOR_RGB2BGR);
            break;
        default: {
            qWarning() << "[SlideSourceScreenInterval]"
                       << "unhandled screenshot image format" << image.format();
            const QImage converted = image.convertToFormat(QImage::Format_ARGB32);
            wrapImage(converted, CV_8UC4).copyTo(*mat);
            emit captureError(QStringLiteral("Invalid screenshot format. Recorded slides can be "
                                             "corrupted or have broken colors."));
            break;
        }
        }
    } catch (const cv::Exception &exception) {
        qWarning() << "[SlideSourceScreenInterval]"
                   << "cv::Exception:" << exception.what();
        mat->release();
    }
    return mat.release();
}
