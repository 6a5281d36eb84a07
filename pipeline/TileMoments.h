#pragma once

#include "TileSimilarity.h"

#include <opencv2/core/mat.hpp>

#include <vector>

// The SSIM moments of the tiles of one picture, measured when a comparison first needs them and
// kept while the picture is compared: a capture is compared with the picture before it and with
// the slide, becomes the picture before the next capture, and the slide is compared with every
// capture until it is replaced. The matrices are reused from picture to picture.
class TileMoments
{
public:
    // The tiles of picture from now on. What was measured stays only if it is the same picture
    // (the same pixels in memory), as when the latest capture becomes the slide's picture before.
    void setPicture(const cv::Mat &picture, size_t tileCount);
    const TileSimilarity::Moments &of(size_t tile, const cv::Rect &rect);
    // The picture was written within the tile.
    void forget(size_t tile);

private:
    cv::Mat m_picture;
    std::vector<TileSimilarity::Moments> m_tiles;
    std::vector<bool> m_measured;
};
