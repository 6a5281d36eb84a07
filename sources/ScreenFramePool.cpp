#include "ScreenFramePool.h"

#include <QDebug>

#include <algorithm>

std::unique_ptr<cv::Mat> ScreenFramePool::take(int screen, int rows, int cols, int type)
{
    if (screen < 0)
        return std::make_unique<cv::Mat>(rows, cols, type);
    if (size_t(screen) >= m_buffers.size())
        m_buffers.resize(size_t(screen) + 1);
    std::vector<cv::Mat> &buffers = m_buffers[size_t(screen)];

    // A buffer of another size (the screen changed) is dropped as soon as nobody holds it.
    buffers.erase(std::remove_if(buffers.begin(), buffers.end(),
                                 [&](const cv::Mat &buffer) {
                                     return isFree(buffer) &&
                                            (buffer.rows != rows || buffer.cols != cols ||
                                             buffer.type() != type);
                                 }),
                  buffers.end());
    for (const cv::Mat &buffer : buffers) {
        if (isFree(buffer))
            return std::make_unique<cv::Mat>(buffer);
    }
    if (buffers.size() < size_t(buffersPerScreen)) {
        buffers.emplace_back(rows, cols, type);
        // Rare: a new buffer means one more frame in flight than ever before.
        qDebug() << "[ScreenFramePool]"
                 << "screen" << screen << "now has" << buffers.size() << "frame buffers";
        return std::make_unique<cv::Mat>(buffers.back());
    }
    return std::make_unique<cv::Mat>(rows, cols, type);
}

void ScreenFramePool::releaseScreensFrom(int screen)
{
    if (screen >= 0 && size_t(screen) < m_buffers.size())
        m_buffers.resize(size_t(screen));
}

bool ScreenFramePool::isFree(const cv::Mat &buffer)
{
    // The pool's own matrix is the only reference left. Receivers drop theirs on other threads
    // with an atomic decrement; the acquiring load makes their last reads of the pixels happen
    // before the next capture writes them.
    if (!buffer.u)
        return false;
#if defined(__GNUC__) || defined(__clang__)
    return __atomic_load_n(&buffer.u->refcount, __ATOMIC_ACQUIRE) == 1;
#else
    return buffer.u->refcount == 1;
#endif
}
