#pragma once

#include "PointerTracker.h"
#include "TileMoments.h"
#include "TileSimilarity.h"

#include <QString>

#include <opencv2/core/mat.hpp>

#include <vector>

// Follows the pictures of one screen and tells whether the latest differs from the slide shown
// last, telling content changes apart from what a live signal adds to a still slide: capture
// noise, a moving pointer and regions that change all the time (a video inside the slide).
//
// Every picture is compared tile by tile, with SSIM, both with the slide (the reference) and
// with the picture before it. Tiles whose bytes equal the previous picture's skip both
// comparisons: on a still screen capture a picture costs little more than a memory compare.
class ScreenChangeDetector
{
public:
    struct Verdict
    {
        // The picture cannot be compared with the slide (none yet, failed preprocessing, another
        // size): it has to be taken as a new slide at once.
        bool incomparable = false;
        // Some tiles differ from the slide beyond noise, outside a moving region.
        bool changed = false;
        // Nothing outside a moving region or the pointer changed since the previous picture.
        bool settled = true;
        // The whole change is one or two spots no larger than a mouse pointer.
        bool pointerSized = false;
        int changedTiles = 0;
        int tileCount = 0;
        int movingTiles = 0;

        [[nodiscard]] QString describe() const;
    };

    // Starts a new slide with the picture (null: preprocessing failed), without comparison.
    void restart(const cv::Mat *picture);
    Verdict compare(const cv::Mat *picture);
    // The picture compared last becomes the slide.
    void adoptLatest();

private:
    struct Tile
    {
        cv::Rect rect;
        bool differsFromSlide = false;
        // One bit for each of the last pictures, newest highest: the tile changed since the
        // picture before, and not by the pointer.
        unsigned history = 0;
    };
    void layTiles(const cv::Size &size);
    [[nodiscard]] bool exceedsNoise(const TileSimilarity::Score &score) const;
    [[nodiscard]] bool meanExceedsNoise(double mean) const;
    // SSIM of a tile of two pictures; the block measure is left out (NaN) where the mean alone
    // tells a change.
    TileSimilarity::Score scoreTile(const TileSimilarity::Moments &a,
                                    const TileSimilarity::Moments &b);
    [[nodiscard]] static bool isMoving(const Tile &tile);
    // For every tile whether it lies in the moving region; empty when there is none.
    [[nodiscard]] std::vector<bool> movingRegion() const;
    [[nodiscard]] cv::Rect movingBounds() const;
    // Whether the tile at rect differs beyond noise, leaving out the excluded part.
    bool differsBeside(const cv::Mat &current, const cv::Mat &other, const cv::Rect &rect,
                       const cv::Rect &excluded);
    [[nodiscard]] std::vector<cv::Rect> rectsOf(const std::vector<int> &tiles) const;
    void heal(const cv::Mat &picture, int tile);
    void learnNoise(const std::vector<double> &meanDissimilarity,
                    const std::vector<double> &blockDissimilarity);

    bool m_valid = false;
    cv::Mat m_slide;
    cv::Mat m_previous;
    cv::Mat m_latest;
    std::vector<Tile> m_tiles;
    PointerTracker m_pointer;
    // Dissimilarity (1 - SSIM) that still pictures of this source reach by noise alone.
    double m_noiseMean = 0;
    double m_noiseBlock = 0;
    TileSimilarity m_similarity;
    TileMoments m_currentMoments;
    TileMoments m_previousMoments;
    TileMoments m_slideMoments;
};
