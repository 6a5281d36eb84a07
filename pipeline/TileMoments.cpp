#include "TileMoments.h"

void TileMoments::setPicture(const cv::Mat &picture, size_t tileCount)
{
    // The matrix header keeps the pixels alive, so no other picture can take their place.
    const bool same = picture.data == m_picture.data && picture.size == m_picture.size &&
                      picture.type() == m_picture.type() && picture.step[0] == m_picture.step[0] &&
                      m_tiles.size() == tileCount;
    m_picture = picture;
    if (same)
        return;
    m_tiles.resize(tileCount);
    m_measured.assign(tileCount, false);
}

const TileSimilarity::Moments &TileMoments::of(size_t tile, const cv::Rect &rect)
{
    TileSimilarity::Moments &moments = m_tiles.at(tile);
    if (!m_measured[tile]) {
        TileSimilarity::measure(m_picture(rect), moments);
        m_measured[tile] = true;
    }
    return moments;
}

void TileMoments::forget(size_t tile)
{
    if (tile < m_measured.size())
        m_measured[tile] = false;
}
