#pragma once

#include "NdiApi.h"
#include "SlideSource.h"

#include <QTimer>

#include <atomic>
#include <memory>

namespace cv {
class Mat;
}

// Slides from an NDI stream on the network. Once a second (and on demand) the newest frame the
// receiver holds is taken without waiting and delivered as a batch of one R G B A picture.
class SlideSourceNDI : public SlideSource
{
    Q_OBJECT

public:
    explicit SlideSourceNDI(const SlidesSourceInfo &slidesSourceInfo);
    ~SlideSourceNDI() override;

    // Copies the pixels of a received video frame into a new matrix, 8-bit R G B A; null when
    // the frame holds no usable picture.
    static std::unique_ptr<cv::Mat> copyFrame(const NDIlib_video_frame_v2_t &videoFrame);

public Q_SLOTS:
    void captureSlide() override;

private Q_SLOTS:
    void capture(bool forceNewSlide) override;

protected:
    void run() override;

private:
    bool createNDISource();
    void destroyNDISource();

    std::atomic<Qt::HANDLE> m_sourceThreadId{nullptr};
    NDIlib_recv_instance_t m_ndiReceiver = nullptr;
};
