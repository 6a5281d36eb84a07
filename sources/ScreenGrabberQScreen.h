#pragma once

#include "ScreenGrabber.h"

class QImage;

namespace cv {
class Mat;
}

// Qt's generic screen grab: the screen as a pixmap, turned into an image and copied into a new
// matrix. Works wherever Qt can grab a screen; the image is independent of the matrix.
class ScreenGrabberQScreen : public ScreenGrabber
{
    Q_OBJECT

public:
    explicit ScreenGrabberQScreen(QObject *parent = nullptr);

    [[nodiscard]] SlideImage grab(int index, QScreen *screen) override;
    [[nodiscard]] QString name() const override;

    // The picture as a new matrix that owns its pixels: 3-channel B G R for opaque grabs, 4-channel
    // B G R A for grabs with alpha. Formats it cannot take as they are are converted and reported
    // by grabError().
    [[nodiscard]] cv::Mat *qImageToCvMat(const QImage &image);
};
