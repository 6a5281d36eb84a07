#pragma once

#include <opencv2/core/mat.hpp>

#include <vector>

// Tells the mouse pointer apart from small content changes between two pictures of a screen, on
// the detection's reduced pictures. The pointer is a pointer-sized spot that jumps (one spot
// vanishes, another appears), or hides and shows up again where it was or looking as it did.
// Where it is and how it looks are learned from its moves; nothing is assumed about its shape.
class PointerTracker
{
public:
    struct Spots
    {
        int count = 0;
        bool allPointerSized = true;
        std::vector<cv::Rect> bounds;
    };

    // The connected spots where a and b differ within the areas; spots closer than a few pixels
    // (the strokes of one glyph) are one.
    static Spots findSpots(const cv::Mat &a, const cv::Mat &b, const std::vector<cv::Rect> &areas);

    // Whether what changed from previous to current within the tiles (their indices and
    // rectangles) is the pointer. If so, the tiles are remembered as where it is now.
    bool explains(const cv::Mat &current, const cv::Mat &previous, const std::vector<int> &tiles,
                  const std::vector<cv::Rect> &rects);
    void reset();

private:
    bool isMove(const cv::Mat &current, const cv::Mat &previous, const Spots &spots);
    // Keeps the pointer's look when the spots of a move show it; false when they do not.
    bool learnLook(const cv::Mat &current, const cv::Mat &previous, const Spots &spots);
    [[nodiscard]] bool looksLikePointer(const cv::Mat &current, const cv::Mat &previous,
                                        const cv::Rect &spot) const;

    std::vector<int> m_tiles;
    // Two views of the pointer, cut from the pictures of its last move.
    std::vector<cv::Mat> m_looks;
};
