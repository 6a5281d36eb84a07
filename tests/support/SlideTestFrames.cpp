#include "SlideTestFrames.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <atomic>

namespace {

std::atomic<int> liveCount{0};

// Delegates to OpenCV's own allocator and counts the buffers that are alive.
class CountingAllocator : public cv::MatAllocator
{
public:
    cv::UMatData *allocate(int dims, const int *sizes, int type, void *data, size_t *step,
                           cv::AccessFlag flags, cv::UMatUsageFlags usageFlags) const override
    {
        cv::UMatData *u = std()->allocate(dims, sizes, type, data, step, flags, usageFlags);
        if (u) {
            u->currAllocator = this;
            ++liveCount;
        }
        return u;
    }

    bool allocate(cv::UMatData *data, cv::AccessFlag accessFlags,
                  cv::UMatUsageFlags usageFlags) const override
    {
        return std()->allocate(data, accessFlags, usageFlags);
    }

    void deallocate(cv::UMatData *data) const override
    {
        if (!data)
            return;
        --liveCount;
        std()->deallocate(data);
    }

private:
    static cv::MatAllocator *std() { return cv::Mat::getStdAllocator(); }
};

CountingAllocator countingAllocator;

} // namespace

namespace SlideTestFrames {

cv::Mat slidePicture(int width, int height, int seed)
{
    cv::RNG rng(uint64(seed) * 7919 + 17);
    const auto colour = [&rng] {
        return cv::Scalar(rng.uniform(0, 256), rng.uniform(0, 256), rng.uniform(0, 256));
    };
    cv::Mat picture(height, width, CV_8UC3, colour());
    cv::rectangle(picture, cv::Rect(0, 0, width, height / 8), colour(), cv::FILLED);
    for (int i = 0; i < 6; ++i) {
        const int x = rng.uniform(0, width * 3 / 4);
        const int y = rng.uniform(height / 6, height * 3 / 4);
        cv::rectangle(picture, cv::Rect(x, y, width / 5, height / 6), colour(), cv::FILLED);
    }
    cv::putText(picture, "Slide " + std::to_string(seed), cv::Point(width / 10, height / 12),
                cv::FONT_HERSHEY_SIMPLEX, height / 400.0 + 0.5, colour(), 2);
    return picture;
}

cv::Mat withNoise(const cv::Mat &picture, double sigma, int seed)
{
    cv::Mat noise(picture.size(), CV_16SC3);
    cv::RNG rng(uint64(seed) + 1);
    rng.fill(noise, cv::RNG::NORMAL, 0, sigma);
    cv::Mat result;
    cv::Mat wide;
    picture.convertTo(wide, CV_16SC3);
    cv::add(wide, noise, wide);
    wide.convertTo(result, CV_8UC3);
    return result;
}

cv::Mat *newCountedFrame(const cv::Mat &picture)
{
    auto *frame = new cv::Mat();
    frame->allocator = &countingAllocator;
    frame->create(picture.rows, picture.cols, picture.type());
    picture.copyTo(*frame);
    return frame;
}

int liveFrames()
{
    return liveCount.load();
}

QImage toImage(const cv::Mat &bgr)
{
    return QImage(bgr.data, bgr.cols, bgr.rows, int(bgr.step), QImage::Format_BGR888).copy();
}

QList<SlideImage> batch(const QList<cv::Mat> &pictures)
{
    QList<SlideImage> result;
    for (const cv::Mat &picture : pictures)
        result.append(SlideImage{newCountedFrame(picture), toImage(picture)});
    return result;
}

} // namespace SlideTestFrames
