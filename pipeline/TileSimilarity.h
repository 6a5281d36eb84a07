#pragma once

#include <opencv2/core/mat.hpp>

// Structural similarity (SSIM) of two equally sized tiles of the detection's reduced pictures,
// 8 bits per channel, three channels compared. Keeps its working matrices between calls: the
// detection compares a hundred tiles per capture and allocating them each time was the larger
// part of the cost.
class TileSimilarity
{
public:
    // What SSIM needs of one tile alone: its values as floats, their local means and the local
    // means of their squares. Most of the cost of a comparison lies here, and a picture's tile
    // is compared with the picture before it, with the slide and later with the next picture.
    struct Moments
    {
        cv::Mat values;
        cv::Mat mean;
        cv::Mat meanOfSquares;
    };

    struct Score
    {
        // Mean SSIM of the tile, the smallest of the three channels.
        double mean = 1.0;
        // Mean SSIM of the worst block of about blockSize x blockSize pixels within the tile (a
        // glyph of ordinary slide text at the reduced size),
        // taking the worst channel at every pixel. A changed word or digit covers a few percent
        // of a tile and hardly moves its mean, but it empties a block of its similarity.
        double block = 1.0;
    };

    static constexpr int blockSize = 6;
    static constexpr double C1 = 6.5025;  // (0.01 * 255)^2
    static constexpr double C2 = 58.5225; // (0.03 * 255)^2
    // The luminance term compares the local means as if every channel started at the black
    // level of video (16), not at 0. A capture card clips its noise at 0, so the mean of a dark
    // channel wanders by a level or two from one picture to the next, and with C1 alone SSIM
    // reads 1 against 2 as a large change. Real changes of tens of levels still count fully.
    static constexpr float pedestal = 16.0f;

    static void measure(const cv::Mat &tile, Moments &moments);

    // Both measures of two tiles.
    Score compare(const cv::Mat &a, const cv::Mat &b);
    Score compare(const Moments &a, const Moments &b);
    // The mean alone; worstBlock() then gives the block measure of the same two tiles. Where
    // the mean already tells a change, the block measure is not needed.
    double compareMeans(const Moments &a, const Moments &b);
    double worstBlock(double mean);

private:
    Moments m_a, m_b;
    cv::Mat m_product, m_ab, m_map, m_blocks;
};
