#pragma once

#include "SlideSource.h"

class QImage;
class QTimer;

namespace cv {
class Mat;
}

// Grabs every screen of this computer once a second; one picture per screen and batch, in the
// order of the application's screen list.
class SlideSourceScreenInterval : public SlideSource
{
    Q_OBJECT

public:
    explicit SlideSourceScreenInterval(const SlidesSourceInfo &info);
    ~SlideSourceScreenInterval() override;

    void captureSlide() override;

protected:
    void run() override;

private:
    friend class ScreenCaptureTest;

    void capture(bool forceNewSlide) override;
    // The picture as a new matrix that owns its pixels: 3-channel B G R for opaque grabs, 4-channel
    // B G R A for grabs with alpha. Reports formats it cannot take as they are by captureError().
    [[nodiscard]] cv::Mat *qImageToCvMat(const QImage &image);
};
