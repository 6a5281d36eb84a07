#include "ScreenGrabberQScreen.h"

#include <QDebug>
#include <QImage>
#include <QPixmap>
#include <QScreen>

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

ScreenGrabberQScreen::ScreenGrabberQScreen(QObject *parent) : ScreenGrabber(parent) {}

SlideImage ScreenGrabberQScreen::grab(int, QScreen *screen)
{
    const QImage image = screen->grabWindow(0, 0, 0, -1, -1).toImage();
    return SlideImage{qImageToCvMat(image), image};
}

QString ScreenGrabberQScreen::name() const
{
    return QStringLiteral("QScreen::grabWindow");
}

cv::Mat *ScreenGrabberQScreen::qImageToCvMat(const QImage &image)
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
            // The screen source's own words: the log and the user see one source, whichever way
            // it grabs.
            qWarning() << "[SlideSourceScreenInterval]"
                       << "unhandled screenshot image format" << image.format();
            const QImage converted = image.convertToFormat(QImage::Format_ARGB32);
            wrapImage(converted, CV_8UC4).copyTo(*mat);
            Q_EMIT grabError(QStringLiteral("Invalid screenshot format. Recorded slides can be "
                                            "corrupted or have broken colors."));
            break;
        }
        }
    } catch (const cv::Exception &exception) {
        qWarning() << "[ScreenGrabberQScreen]"
                   << "cv::Exception:" << exception.what();
        mat->release();
    }
    return mat.release();
}
