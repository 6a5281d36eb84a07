#include "ScreenChangeDetector.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int tileSize = 50;

// A tile has changed when its dissimilarity (1 - SSIM) exceeds one of these limits and the
// noise floor of the source times noiseMargin. The mean limit is the classic 0.95 similarity of
// a whole tile. The block limit catches a changed word or digit: noise spreads evenly over a
// tile, an edit concentrates in one glyph-sized block. Capture-card noise (sigma 3, JPEG 70)
// stays near 0.05 in the worst block; one changed digit drawn 40 grey levels from its
// background reaches about twice the limit.
constexpr double meanLimit = 0.05;
constexpr double blockLimit = 0.10;
constexpr double noiseMargin = 3.0;

// Changes confined to this many tiles are examined for the pointer; a pointer covers at most
// four tiles where it is and four where it was.
constexpr size_t maxPointerTiles = 8;
// A pointer-sized spot: neither side longer than this share of the picture height (54 pixels of
// 1080; common pointers are 16 to 48 pixels, text a page would show is wider).
constexpr double pointerShare = 0.05;
// Spots closer than this (in reduced pixels) are one spot: the strokes of one glyph.
constexpr int spotJoin = 5;
// Smallest difference of a pixel (of 255) that can outline a spot.
constexpr int spotLevel = 8;

// A tile belongs to a moving region when it changed in at least three of the last four pictures:
// a dissolve changes a tile twice in a row, a video every time.
constexpr unsigned historyMask = 0xF;
constexpr int movingCount = 3;
// Beyond this share of the screen a "region" is the whole slide changing fast (quick clicking
// through slides); those changes count.
constexpr double maxMovingShare = 2.0 / 3.0;

bool sameBytes(const cv::Mat &a, const cv::Mat &b, const cv::Rect &rect)
{
    const size_t bytes = size_t(rect.width) * a.elemSize();
    const size_t offset = size_t(rect.x) * a.elemSize();
    for (int y = rect.y; y < rect.y + rect.height; ++y) {
        if (std::memcmp(a.ptr(y) + offset, b.ptr(y) + offset, bytes) != 0)
            return false;
    }
    return true;
}

int bitCount(unsigned bits)
{
    int count = 0;
    for (; bits; bits &= bits - 1)
        ++count;
    return count;
}

double percentile90(std::vector<double> values)
{
    if (values.empty())
        return 0;
    const auto at = values.begin() + std::ptrdiff_t(values.size() * 9 / 10);
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

} // namespace

QString ScreenChangeDetector::Verdict::describe() const
{
    QString text =
        QStringLiteral("%1 of %2 tiles differ from the slide").arg(changedTiles).arg(tileCount);
    if (pointerSized)
        text += QStringLiteral(" (a pointer-sized spot that held still)");
    if (movingTiles > 0)
        text += QStringLiteral(", %1 tiles of a moving region ignored").arg(movingTiles);
    return text;
}

void ScreenChangeDetector::restart(const cv::Mat *picture)
{
    m_valid = picture != nullptr;
    if (!picture) {
        m_slide.release();
        m_previous.release();
        m_latest.release();
        return;
    }
    // Its own copy: healing writes into the slide.
    m_slide = picture->clone();
    m_previous = *picture;
    m_latest = *picture;
    layTiles(picture->size());
    for (Tile &tile : m_tiles)
        tile.differsFromSlide = false;
}

void ScreenChangeDetector::adoptLatest()
{
    restart(&m_latest);
}

void ScreenChangeDetector::layTiles(const cv::Size &size)
{
    if (!m_tiles.empty() && m_tiles.back().rect.br() == cv::Point(size.width, size.height))
        return;
    m_tiles.clear();
    m_pointerTiles.clear();
    for (int x = 0; x < size.width; x += tileSize) {
        for (int y = 0; y < size.height; y += tileSize) {
            Tile tile;
            tile.rect = cv::Rect(x, y, std::min(tileSize, size.width - x),
                                 std::min(tileSize, size.height - y));
            m_tiles.push_back(tile);
        }
    }
}

bool ScreenChangeDetector::exceedsNoise(const TileSimilarity::Score &score) const
{
    return 1.0 - score.mean > std::max(meanLimit, noiseMargin * m_noiseMean) ||
           1.0 - score.block > std::max(blockLimit, noiseMargin * m_noiseBlock);
}

bool ScreenChangeDetector::isMoving(const Tile &tile)
{
    return bitCount(tile.history & historyMask) >= movingCount;
}

ScreenChangeDetector::Verdict ScreenChangeDetector::compare(const cv::Mat *picture)
{
    Verdict verdict;
    verdict.tileCount = int(m_tiles.size());
    if (!picture || !m_valid || picture->size() != m_slide.size() ||
        picture->type() != m_slide.type()) {
        m_latest = picture ? *picture : cv::Mat();
        verdict.incomparable = true;
        return verdict;
    }
    const cv::Mat &current = *picture;

    std::vector<int> changedSincePrevious;
    std::vector<double> meanNoise(m_tiles.size(), 0.0);
    std::vector<double> blockNoise(m_tiles.size(), 0.0);
    for (size_t i = 0; i < m_tiles.size(); ++i) {
        Tile &tile = m_tiles[i];
        const cv::Rect &rect = tile.rect;
        bool changed = false;
        // Equal bytes: the tile compares with the slide as it did last time.
        if (!sameBytes(current, m_previous, rect)) {
            const TileSimilarity::Score sincePrevious =
                m_similarity.compare(current(rect), m_previous(rect));
            changed = exceedsNoise(sincePrevious);
            meanNoise[i] = 1.0 - sincePrevious.mean;
            blockNoise[i] = 1.0 - sincePrevious.block;
            if (sameBytes(m_previous, m_slide, rect))
                tile.differsFromSlide = changed;
            else if (sameBytes(current, m_slide, rect))
                tile.differsFromSlide = false;
            else
                tile.differsFromSlide =
                    exceedsNoise(m_similarity.compare(current(rect), m_slide(rect)));
        }
        tile.history = ((tile.history << 1) | (changed ? 1u : 0u)) & historyMask;
        if (changed)
            changedSincePrevious.push_back(int(i));
    }

    // A region that keeps changing (a video in the slide) is left out while it moves; when it
    // stops, its last picture becomes part of the slide: the end of a video is no new slide.
    int moving = 0;
    for (const Tile &tile : m_tiles)
        moving += isMoving(tile) ? 1 : 0;
    const bool region = moving > 0 && moving <= int(maxMovingShare * double(m_tiles.size()));
    const auto excused = [&](int i) {
        return region && isMoving(m_tiles[size_t(i)]);
    };
    if (region) {
        for (size_t i = 0; i < m_tiles.size(); ++i) {
            if (isMoving(m_tiles[i]) && !(m_tiles[i].history & 1u))
                heal(current, int(i));
        }
    }

    // The pointer: one spot that vanished and one that appeared, both pointer-sized, or one that
    // changed where the pointer was last seen (it hid or moved a little). Its picture goes into
    // the slide, so that the slide always shows the pointer where it is now.
    std::vector<int> unexplained;
    for (int i : changedSincePrevious) {
        if (!excused(i))
            unexplained.push_back(i);
    }
    if (!unexplained.empty() && unexplained.size() <= maxPointerTiles) {
        const Spots spots = findSpots(current, m_previous, unexplained);
        const bool atPointer = std::any_of(unexplained.begin(), unexplained.end(), [this](int i) {
            return std::find(m_pointerTiles.begin(), m_pointerTiles.end(), i) !=
                   m_pointerTiles.end();
        });
        if (spots.allPointerSized && (spots.count == 2 || (spots.count == 1 && atPointer))) {
            for (int i : unexplained)
                heal(current, i);
            m_pointerTiles = unexplained;
            unexplained.clear();
        }
    }
    verdict.settled = unexplained.empty();

    std::vector<int> differing;
    for (size_t i = 0; i < m_tiles.size(); ++i) {
        if (m_tiles[i].differsFromSlide && !excused(int(i)))
            differing.push_back(int(i));
    }
    verdict.changed = !differing.empty();
    verdict.changedTiles = int(differing.size());
    verdict.movingTiles = region ? moving : 0;
    if (verdict.changed && differing.size() <= maxPointerTiles) {
        const Spots spots = findSpots(current, m_slide, differing);
        verdict.pointerSized = spots.count > 0 && spots.count <= 2 && spots.allPointerSized;
    }
    // Only pictures that showed the slide unchanged teach what noise alone does.
    if (!verdict.changed && verdict.settled && !region)
        learnNoise(meanNoise, blockNoise);

    m_previous = current;
    m_latest = current;
    return verdict;
}

ScreenChangeDetector::Spots ScreenChangeDetector::findSpots(const cv::Mat &a, const cv::Mat &b,
                                                            const std::vector<int> &tiles) const
{
    const int channels = std::min(a.channels(), 3);
    const size_t step = a.elemSize();
    cv::Mat difference(a.size(), CV_8U, cv::Scalar(0));
    int strongest = 0;
    for (int i : tiles) {
        const cv::Rect &rect = m_tiles[size_t(i)].rect;
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
        const int width = stats.at<int>(label, cv::CC_STAT_WIDTH) - (spotJoin - 1);
        const int height = stats.at<int>(label, cv::CC_STAT_HEIGHT) - (spotJoin - 1);
        if (std::max(width, height) > limit)
            spots.allPointerSized = false;
    }
    return spots;
}

void ScreenChangeDetector::heal(const cv::Mat &picture, int tile)
{
    Tile &healed = m_tiles[size_t(tile)];
    picture(healed.rect).copyTo(m_slide(healed.rect));
    healed.differsFromSlide = false;
}

void ScreenChangeDetector::learnNoise(const std::vector<double> &meanDissimilarity,
                                      const std::vector<double> &blockDissimilarity)
{
    // Rises at once with a noisier source, forgets slowly when the signal gets cleaner.
    m_noiseMean = std::max(0.98 * m_noiseMean, percentile90(meanDissimilarity));
    m_noiseBlock = std::max(0.98 * m_noiseBlock, percentile90(blockDissimilarity));
}
