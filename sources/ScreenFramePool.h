#pragma once

#include <opencv2/core/mat.hpp>

#include <memory>
#include <vector>

// Pixel buffers for the captured frames, used again once every receiver has let go of them. A
// frame travels along the pipeline as a matrix of its own that shares the pool's buffer; when the
// last receiver deletes its matrix the buffer is free for the next capture of that screen. A still
// screen so costs no new full-size allocation (and no fresh pages) per capture.
class ScreenFramePool
{
public:
    // Buffers kept per screen: enough for the frames a recording holds at once (the one being
    // compared, the one being saved, the next capture); more frames in flight get buffers of
    // their own that go when they are released.
    static constexpr int buffersPerScreen = 4;

    // A matrix the caller owns, over a buffer of that size and type that no other matrix uses.
    [[nodiscard]] std::unique_ptr<cv::Mat> take(int screen, int rows, int cols, int type);
    // The screens from this index on are gone.
    void releaseScreensFrom(int screen);

private:
    [[nodiscard]] static bool isFree(const cv::Mat &buffer);

    std::vector<std::vector<cv::Mat>> m_buffers;
};
