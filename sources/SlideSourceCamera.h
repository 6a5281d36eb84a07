#pragma once

#include "SlideSource.h"

#include <QTimer>

#include <atomic>
#include <memory>

namespace cv {
class Mat;
class VideoCapture;
} // namespace cv

// Slides from a video input device (capture card or camera) through OpenCV's video capture,
// opened by the device index of the source description. Once a second (and on demand) one frame
// is read and delivered as a batch of one B G R picture.
class SlideSourceCamera : public SlideSource
{
    Q_OBJECT

public:
    explicit SlideSourceCamera(const SlidesSourceInfo &slidesSourceInfo);
    ~SlideSourceCamera() override;

    // The batch element for one frame: the matrix itself and a B G R image over its pixels, valid
    // as long as the matrix lives. Frames in another 8-bit layout are converted to B G R first;
    // null when the frame holds no usable picture.
    static std::unique_ptr<cv::Mat> toBgrFrame(cv::Mat frame);
    static SlideImage slideImageFromFrame(const cv::Mat *frame);

public Q_SLOTS:
    void captureSlide() override;

private Q_SLOTS:
    void capture(bool forceNewSlide) override;

protected:
    void run() override;
    // Opens the device (index, any back end). Tests put a device of their own here.
    virtual std::unique_ptr<cv::VideoCapture> openVideoCapture(int index);
    [[nodiscard]] QString deviceLabel() const override;

private:
    bool createCamera();
    // Opens the device with the resolution asked for; quiet about failures, which the caller
    // reports.
    bool openCamera();
    void destroyCamera();

    std::atomic<Qt::HANDLE> m_sourceThreadId{nullptr};
    std::unique_ptr<cv::VideoCapture> m_camera;
    // Read from the recorder settings when the source is created, on the thread that owns them,
    // so the source thread never reads the settings object while the user edits it.
    bool m_useNativeResolution = true;
    int m_slideWidth = 0;
    int m_slideHeight = 0;
};
