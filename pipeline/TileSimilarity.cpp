#include "TileSimilarity.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>

TileSimilarity::Score TileSimilarity::compare(const cv::Mat &a, const cv::Mat &b)
{
    const cv::Size window(11, 11);
    const double sigma = 1.5;

    a.convertTo(m_a, CV_32F);
    b.convertTo(m_b, CV_32F);
    cv::GaussianBlur(m_a, m_muA, window, sigma);
    cv::GaussianBlur(m_b, m_muB, window, sigma);
    cv::multiply(m_a, m_a, m_product);
    cv::GaussianBlur(m_product, m_aa, window, sigma);
    cv::multiply(m_b, m_b, m_product);
    cv::GaussianBlur(m_product, m_bb, window, sigma);
    cv::multiply(m_a, m_b, m_product);
    cv::GaussianBlur(m_product, m_ab, window, sigma);

    // The constants go to every channel (not only the first): with zero in the others their
    // denominator vanishes wherever a tile is flat, and noise on a still picture reads as a
    // change there.
    const int channels = m_a.channels();
    const int compared = std::min(channels, 3);
    double sums[3] = {0, 0, 0};
    m_map.create(m_a.size(), CV_32F);
    for (int y = 0; y < m_a.rows; ++y) {
        const float *muA = m_muA.ptr<float>(y);
        const float *muB = m_muB.ptr<float>(y);
        const float *aa = m_aa.ptr<float>(y);
        const float *bb = m_bb.ptr<float>(y);
        const float *ab = m_ab.ptr<float>(y);
        float *map = m_map.ptr<float>(y);
        for (int x = 0; x < m_a.cols; ++x) {
            float worst = 1.0f;
            for (int c = 0; c < compared; ++c) {
                const int i = x * channels + c;
                const float ma = muA[i], mb = muB[i];
                const float varA = aa[i] - ma * ma;
                const float varB = bb[i] - mb * mb;
                const float cov = ab[i] - ma * mb;
                const float la = ma + pedestal, lb = mb + pedestal;
                const float s = ((2 * la * lb + float(C1)) * (2 * cov + float(C2))) /
                                ((la * la + lb * lb + float(C1)) * (varA + varB + float(C2)));
                sums[c] += s;
                worst = std::min(worst, s);
            }
            map[x] = worst;
        }
    }
    Score score;
    const double pixels = double(m_a.total());
    for (int c = 0; c < compared; ++c)
        score.mean = std::min(score.mean, sums[c] / pixels);

    // Block means by area averaging; a narrow last column or row of the picture is one block.
    const cv::Size blocks(std::max(1, m_map.cols / blockSize), std::max(1, m_map.rows / blockSize));
    cv::resize(m_map, m_blocks, blocks, 0, 0, cv::INTER_AREA);
    double lowest = 1.0;
    cv::minMaxLoc(m_blocks, &lowest);
    score.block = std::min(lowest, score.mean);
    return score;
}
