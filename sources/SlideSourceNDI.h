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
    [[nodiscard]] QString deviceLabel() const override;
    // A stream with nothing new for one capture may only be between frames; two in a row (two
    // seconds) mean that the sender went away.
    [[nodiscard]] int failuresBeforeLost() const override { return 2; }

private:
    bool createNDISource();
    bool connectReceiver();
    void destroyNDISource();
    // A lost stream gets a new receiver now and then: a sender that was restarted may come back
    // at another address. A receiver needs a few seconds to connect, so not at every capture.
    void reconnectIfLost();

    // Captures while lost before the receiver is made anew.
    static constexpr int capturesPerReconnect = 5;

    std::atomic<Qt::HANDLE> m_sourceThreadId{nullptr};
    int m_capturesSinceReconnect = 0;
    NDIlib_recv_instance_t m_ndiReceiver = nullptr;
};
