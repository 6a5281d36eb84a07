#include "PointerTracker.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {

// A pointer-sized spot: neither side longer than this share of the picture height (54 pixels of
// 1080; common pointers are 16 to 48 pixels, text a page would show is wider).
constexpr double pointerShare = 0.05;
// Spots closer than this (in reduced pixels) are one spot: the strokes of one glyph.
constexpr int spotJoin = 5;
// Smallest difference of a pixel (of 255) that can outline a spot.
constexpr int spotLevel = 8;
// Correlation from which a spot shows the pointer as it was last seen moving.
constexpr double pointerLikeness = 0.8;

// Normalised cross-correlation of two small pictures, the best over small shifts.
double likeness(const cv::Mat &a, const cv::Mat &b)
{
    const cv::Mat &larger = a.total() >= b.total() ? a : b;
    const cv::Mat &smaller = a.total() >= b.total() ? b : a;
    cv::Mat padded;
    cv::copyMakeBorder(larger, padded, 3, 3, 3, 3, cv::BORDER_REPLICATE);
    const cv::Mat pattern = smaller(
        cv::Rect(0, 0, std::min(smaller.cols, padded.cols), std::min(smaller.rows, padded.rows)));
    cv::Mat scores;
    cv::matchTemplate(padded, pattern, scores, cv::TM_CCOEFF_NORMED);
    double best = 0;
    cv::minMaxLoc(scores, nullptr, &best);
    return std::isfinite(best) ? best : 0.0;
}

} // namespace

void PointerTracker::reset()
{
    m_tiles.clear();
    m_looks.clear();
}

bool PointerTracker::explains(const cv::Mat &current, const cv::Mat &previous,
                              const std::vector<int> &tiles, const std::vector<cv::Rect> &rects)
{
    const Spots spots = findSpots(current, previous, rects);
    if (!spots.allPointerSized || spots.count == 0)
        return false;
    const bool atPointer = std::any_of(tiles.begin(), tiles.end(), [this](int i) {
        return std::find(m_tiles.begin(), m_tiles.end(), i) != m_tiles.end();
    });
    // One spot that vanished and one that appeared; or a single spot where the pointer was last
    // seen (it hid or moved a little) or one that looks like it (it showed up or hid elsewhere).
    const bool pointer = isMove(current, previous, spots) ||
                         (spots.count == 1 &&
                          (atPointer || looksLikePointer(current, previous, spots.bounds.front())));
    if (pointer)
        m_tiles = tiles;
    return pointer;
}

PointerTracker::Spots PointerTracker::findSpots(const cv::Mat &a, const cv::Mat &b,
                                                const std::vector<cv::Rect> &areas)
{
    const int channels = std::min(a.channels(), 3);
    const size_t step = a.elemSize();
    cv::Mat difference(a.size(), CV_8U, cv::Scalar(0));
    int strongest = 0;
    for (const cv::Rect &rect : areas) {
        for (int y = rect.y; y < rect.y + rect.height; ++y) {
            const uchar *pa = a.ptr(y);
            const uchar *pb = b.ptr(y);
            uchar *out = difference.ptr(y);
            for (int x = rect.x; x < rect.x + rect.width; ++x) {
                int largest = 0;
                for (int c = 0; c < channels; ++c)
                    largest = std::max(largest, std::abs(int(pa[size_t(x) * step + size_t(c)]) -
                                                         int(pb[size_t(x) * step + size_t(c)])));
                out[x] = uchar(largest);
                strongest = std::max(strongest, largest);
            }
        }
    }
    Spots spots;
    if (strongest < spotLevel)
        return spots;
    // Half the strongest difference outlines the strokes of what changed, not the noise around.
    cv::Mat mask;
    cv::threshold(difference, mask, std::max(spotLevel, strongest / 2), 255, cv::THRESH_BINARY);
    cv::dilate(mask, mask, cv::Mat::ones(spotJoin, spotJoin, CV_8U));
    cv::Mat labels, stats, centroids;
    const int labelCount = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 8);
    const int limit = std::max(4, int(std::lround(double(a.rows) * pointerShare)));
    spots.count = labelCount - 1;
    for (int label = 1; label < labelCount; ++label) {
        spots.bounds.emplace_back(
            stats.at<int>(label, cv::CC_STAT_LEFT), stats.at<int>(label, cv::CC_STAT_TOP),
            stats.at<int>(label, cv::CC_STAT_WIDTH), stats.at<int>(label, cv::CC_STAT_HEIGHT));
        const int width = stats.at<int>(label, cv::CC_STAT_WIDTH) - (spotJoin - 1);
        const int height = stats.at<int>(label, cv::CC_STAT_HEIGHT) - (spotJoin - 1);
        if (std::max(width, height) > limit)
            spots.allPointerSized = false;
    }
    return spots;
}

bool PointerTracker::isMove(const cv::Mat &current, const cv::Mat &previous, const Spots &spots)
{
    if (spots.count != 2 || !spots.allPointerSized)
        return false;
    // Two glyphs changed side by side (39 -> 40) are two close spots too; a pointer usually
    // jumps further than its own size, or else it must look the same at both places.
    const cv::Rect &a = spots.bounds.at(0);
    const cv::Rect &b = spots.bounds.at(1);
    const int gap = std::max(std::max(a.x, b.x) - std::min(a.x + a.width, b.x + b.width),
                             std::max(a.y, b.y) - std::min(a.y + a.height, b.y + b.height));
    const int size = std::max({a.width, a.height, b.width, b.height});
    return learnLook(current, previous, spots) || gap >= size;
}

bool PointerTracker::learnLook(const cv::Mat &current, const cv::Mat &previous, const Spots &spots)
{
    // Where the pointer arrived the current picture shows it, where it left the previous one
    // did: of the two crossed pairs, the one whose halves look alike is the pointer.
    const cv::Rect &a = spots.bounds.at(0);
    const cv::Rect &b = spots.bounds.at(1);
    const double arrivedAtA = likeness(current(a), previous(b));
    const double arrivedAtB = likeness(previous(a), current(b));
    if (std::max(arrivedAtA, arrivedAtB) < pointerLikeness)
        return false;
    if (arrivedAtA >= arrivedAtB)
        m_looks = {current(a).clone(), previous(b).clone()};
    else
        m_looks = {previous(a).clone(), current(b).clone()};
    return true;
}

bool PointerTracker::looksLikePointer(const cv::Mat &current, const cv::Mat &previous,
                                      const cv::Rect &spot) const
{
    for (const cv::Mat &look : m_looks) {
        if (likeness(current(spot), look) >= pointerLikeness ||
            likeness(previous(spot), look) >= pointerLikeness)
            return true;
    }
    return false;
}
