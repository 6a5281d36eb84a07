#include "ScreenChangeDetector.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

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

// A tile moves when it changed in at least three of the last four pictures: a dissolve changes a
// tile twice in a row, a video every time. The moving region is the rectangle around the moving
// tiles: a video has still patches that would otherwise count as changes now and then.
constexpr int historyBits = 4;
constexpr unsigned newestBit = 1u << (historyBits - 1);
constexpr int movingCount = 3;
// Beyond this share of the screen a "region" is the whole slide changing fast (quick clicking
// through slides); those changes count.
constexpr double maxMovingShare = 2.0 / 3.0;
// Width of the strip around the moving region in which a tile's changes are the region's.
constexpr int regionEdge = 12;

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
    m_pointer.reset();
    for (int x = 0; x < size.width; x += tileSize) {
        for (int y = 0; y < size.height; y += tileSize) {
            Tile tile;
            tile.rect = cv::Rect(x, y, std::min(tileSize, size.width - x),
                                 std::min(tileSize, size.height - y));
            m_tiles.push_back(tile);
        }
    }
}

bool ScreenChangeDetector::meanExceedsNoise(double mean) const
{
    return 1.0 - mean > std::max(meanLimit, noiseMargin * m_noiseMean);
}

bool ScreenChangeDetector::exceedsNoise(const TileSimilarity::Score &score) const
{
    return meanExceedsNoise(score.mean) ||
           1.0 - score.block > std::max(blockLimit, noiseMargin * m_noiseBlock);
}

TileSimilarity::Score ScreenChangeDetector::scoreTile(const TileSimilarity::Moments &a,
                                                      const TileSimilarity::Moments &b)
{
    TileSimilarity::Score score;
    score.mean = m_similarity.compareMeans(a, b);
    score.block = meanExceedsNoise(score.mean) ? std::numeric_limits<double>::quiet_NaN()
                                               : m_similarity.worstBlock(score.mean);
    return score;
}

bool ScreenChangeDetector::isMoving(const Tile &tile)
{
    return bitCount(tile.history) >= movingCount;
}

cv::Rect ScreenChangeDetector::movingBounds() const
{
    cv::Rect bounds;
    for (const Tile &tile : m_tiles) {
        if (isMoving(tile))
            bounds = bounds.empty() ? tile.rect : (bounds | tile.rect);
    }
    return bounds;
}

bool ScreenChangeDetector::differsBeside(const cv::Mat &current, const cv::Mat &other,
                                         const cv::Rect &rect, const cv::Rect &excluded)
{
    cv::Mat mixed = current(rect).clone();
    const cv::Rect overlap = rect & excluded;
    other(overlap).copyTo(mixed(overlap - rect.tl()));
    return exceedsNoise(m_similarity.compare(mixed, other(rect)));
}

std::vector<bool> ScreenChangeDetector::movingRegion() const
{
    const cv::Rect bounds = movingBounds();
    if (bounds.empty())
        return {};
    std::vector<bool> region(m_tiles.size(), false);
    int count = 0;
    for (size_t i = 0; i < m_tiles.size(); ++i) {
        region[i] = (m_tiles[i].rect & bounds) == m_tiles[i].rect;
        count += region[i] ? 1 : 0;
    }
    if (count > int(maxMovingShare * double(m_tiles.size())))
        return {};
    return region;
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
    m_currentMoments.setPicture(current, m_tiles.size());
    m_previousMoments.setPicture(m_previous, m_tiles.size());
    m_slideMoments.setPicture(m_slide, m_tiles.size());

    std::vector<int> changedSincePrevious;
    std::vector<double> meanNoise(m_tiles.size(), 0.0);
    std::vector<double> blockNoise(m_tiles.size(), 0.0);
    for (size_t i = 0; i < m_tiles.size(); ++i) {
        Tile &tile = m_tiles[i];
        const cv::Rect &rect = tile.rect;
        bool changed = false;
        // Equal bytes: the tile compares with the slide as it did last time.
        if (!sameBytes(current, m_previous, rect)) {
            const TileSimilarity::Moments &now = m_currentMoments.of(i, rect);
            const TileSimilarity::Score sincePrevious =
                scoreTile(now, m_previousMoments.of(i, rect));
            changed = exceedsNoise(sincePrevious);
            meanNoise[i] = 1.0 - sincePrevious.mean;
            blockNoise[i] = 1.0 - sincePrevious.block;
            if (sameBytes(m_previous, m_slide, rect))
                tile.differsFromSlide = changed;
            else if (sameBytes(current, m_slide, rect))
                tile.differsFromSlide = false;
            else
                tile.differsFromSlide = exceedsNoise(scoreTile(now, m_slideMoments.of(i, rect)));
        }
        if (changed)
            changedSincePrevious.push_back(int(i));
    }

    // The pointer: one spot that vanished and one that appeared, both pointer-sized, or one that
    // changed where the pointer was last seen (it hid or moved a little). Its picture goes into
    // the slide, so that the slide always shows the pointer where it is now, and its tiles do
    // not count as changed, neither now nor for a moving region.
    const std::vector<bool> regionBefore = movingRegion();
    std::vector<int> unexplained;
    for (int i : changedSincePrevious) {
        if (regionBefore.empty() || !regionBefore[size_t(i)])
            unexplained.push_back(i);
    }
    std::vector<bool> explained(m_tiles.size(), false);
    if (!unexplained.empty() && unexplained.size() <= maxPointerTiles &&
        m_pointer.explains(current, m_previous, unexplained, rectsOf(unexplained))) {
        for (int i : unexplained) {
            heal(current, i);
            explained[size_t(i)] = true;
        }
    }
    for (int i : changedSincePrevious) {
        Tile &tile = m_tiles[size_t(i)];
        if (!explained[size_t(i)])
            tile.history |= 1u << historyBits;
    }
    for (Tile &tile : m_tiles)
        tile.history >>= 1;

    // A region that keeps changing (a video in the slide) is left out while it moves; where it
    // holds still, its picture becomes part of the slide: the end of a video is no new slide.
    const std::vector<bool> region = movingRegion();
    const auto inRegion = [&region](int i) {
        return !region.empty() && region[size_t(i)];
    };
    int regionTiles = 0;
    for (size_t i = 0; i < m_tiles.size(); ++i) {
        if (!inRegion(int(i)))
            continue;
        ++regionTiles;
        if (!(m_tiles[i].history & newestBit))
            heal(current, int(i));
    }

    // A video's border rarely falls on a tile border: the tiles around the region see a strip
    // of it that changes now and then. In them only what lies away from the region counts, and
    // the strip becomes part of the slide.
    cv::Rect edge;
    if (!region.empty()) {
        const cv::Rect bounds = movingBounds();
        edge = cv::Rect(bounds.x - regionEdge, bounds.y - regionEdge, bounds.width + 2 * regionEdge,
                        bounds.height + 2 * regionEdge) &
               cv::Rect(0, 0, current.cols, current.rows);
    }
    const auto atEdge = [&](int i) {
        return !edge.empty() && !inRegion(i) && (m_tiles[size_t(i)].rect & edge).area() > 0;
    };
    for (size_t i = 0; i < m_tiles.size(); ++i) {
        Tile &tile = m_tiles[i];
        if (atEdge(int(i)) && tile.differsFromSlide &&
            !differsBeside(current, m_slide, tile.rect, edge)) {
            const cv::Rect strip = tile.rect & edge;
            current(strip).copyTo(m_slide(strip));
            m_slideMoments.forget(i);
            tile.differsFromSlide = false;
        }
    }

    verdict.settled =
        std::none_of(changedSincePrevious.begin(), changedSincePrevious.end(), [&](int i) {
            return !explained[size_t(i)] && !inRegion(i) &&
                   !(atEdge(i) &&
                     !differsBeside(current, m_previous, m_tiles[size_t(i)].rect, edge));
        });

    std::vector<int> differing;
    for (size_t i = 0; i < m_tiles.size(); ++i) {
        if (m_tiles[i].differsFromSlide && !inRegion(int(i)))
            differing.push_back(int(i));
    }
    verdict.changed = !differing.empty();
    verdict.changedTiles = int(differing.size());
    verdict.movingTiles = regionTiles;
    if (verdict.changed && differing.size() <= maxPointerTiles) {
        const PointerTracker::Spots spots =
            PointerTracker::findSpots(current, m_slide, rectsOf(differing));
        verdict.pointerSized = spots.count > 0 && spots.count <= 2 && spots.allPointerSized;
    }
    // Only pictures that showed the slide unchanged teach what noise alone does.
    if (!verdict.changed && verdict.settled && regionTiles == 0) {
        // The pointer's tiles changed beyond noise and were scored by their mean alone.
        for (size_t i = 0; i < m_tiles.size(); ++i) {
            if (std::isnan(blockNoise[i])) {
                blockNoise[i] = 1.0 - m_similarity
                                          .compare(m_currentMoments.of(i, m_tiles[i].rect),
                                                   m_previousMoments.of(i, m_tiles[i].rect))
                                          .block;
            }
        }
        learnNoise(meanNoise, blockNoise);
    }

    m_previous = current;
    m_latest = current;
    // The current picture's moments are the previous picture's for the next capture.
    std::swap(m_previousMoments, m_currentMoments);
    return verdict;
}

std::vector<cv::Rect> ScreenChangeDetector::rectsOf(const std::vector<int> &tiles) const
{
    std::vector<cv::Rect> rects;
    rects.reserve(tiles.size());
    for (int i : tiles)
        rects.push_back(m_tiles[size_t(i)].rect);
    return rects;
}

void ScreenChangeDetector::heal(const cv::Mat &picture, int tile)
{
    Tile &healed = m_tiles[size_t(tile)];
    picture(healed.rect).copyTo(m_slide(healed.rect));
    m_slideMoments.forget(size_t(tile));
    healed.differsFromSlide = false;
}

void ScreenChangeDetector::learnNoise(const std::vector<double> &meanDissimilarity,
                                      const std::vector<double> &blockDissimilarity)
{
    // Rises at once with a noisier source, forgets slowly when the signal gets cleaner.
    m_noiseMean = std::max(0.98 * m_noiseMean, percentile90(meanDissimilarity));
    m_noiseBlock = std::max(0.98 * m_noiseBlock, percentile90(blockDissimilarity));
}
