#include "TileSimilarity.h"

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>

namespace {

// The SSIM window: Gaussian, 11 x 11, sigma 1.5. cv::GaussianBlur would compute the kernel on
// every call, in software floating point, which cost as much as a tenth of a comparison.
void gaussian(const cv::Mat &source, cv::Mat &target)
{
    static const cv::Mat kernel = cv::getGaussianKernel(11, 1.5, CV_32F);
    static const cv::Mat single(1, 1, CV_32F, cv::Scalar(1.0));
    // As cv::GaussianBlur does: a picture one pixel wide or high is not filtered across.
    cv::sepFilter2D(source, target, CV_32F, source.cols == 1 ? single : kernel,
                    source.rows == 1 ? single : kernel, cv::Point(-1, -1), 0, cv::BORDER_DEFAULT);
}

inline float ssim(float ma, float mb, float aa, float bb, float ab)
{
    const float varA = aa - ma * ma;
    const float varB = bb - mb * mb;
    const float cov = ab - ma * mb;
    const float la = ma + TileSimilarity::pedestal, lb = mb + TileSimilarity::pedestal;
    return ((2 * la * lb + float(TileSimilarity::C1)) * (2 * cov + float(TileSimilarity::C2))) /
           ((la * la + lb * lb + float(TileSimilarity::C1)) *
            (varA + varB + float(TileSimilarity::C2)));
}

#if CV_SIMD128
inline cv::v_float32x4 ssim(const cv::v_float32x4 &ma, const cv::v_float32x4 &mb,
                            const cv::v_float32x4 &aa, const cv::v_float32x4 &bb,
                            const cv::v_float32x4 &ab)
{
    const cv::v_float32x4 two = cv::v_setall_f32(2.0f);
    const cv::v_float32x4 c1 = cv::v_setall_f32(float(TileSimilarity::C1));
    const cv::v_float32x4 c2 = cv::v_setall_f32(float(TileSimilarity::C2));
    const cv::v_float32x4 pedestal = cv::v_setall_f32(TileSimilarity::pedestal);
    const cv::v_float32x4 varA = aa - ma * ma;
    const cv::v_float32x4 varB = bb - mb * mb;
    const cv::v_float32x4 cov = ab - ma * mb;
    const cv::v_float32x4 la = ma + pedestal, lb = mb + pedestal;
    return ((two * la * lb + c1) * (two * cov + c2)) /
           ((la * la + lb * lb + c1) * (varA + varB + c2));
}
#endif

} // namespace

void TileSimilarity::measure(const cv::Mat &tile, Moments &moments)
{
    tile.convertTo(moments.values, CV_32F);
    gaussian(moments.values, moments.mean);
    cv::multiply(moments.values, moments.values, moments.meanOfSquares);
    gaussian(moments.meanOfSquares, moments.meanOfSquares);
}

TileSimilarity::Score TileSimilarity::compare(const cv::Mat &a, const cv::Mat &b)
{
    measure(a, m_a);
    measure(b, m_b);
    return compare(m_a, m_b);
}

TileSimilarity::Score TileSimilarity::compare(const Moments &a, const Moments &b)
{
    Score score;
    score.mean = compareMeans(a, b);
    score.block = worstBlock(score.mean);
    return score;
}

double TileSimilarity::compareMeans(const Moments &a, const Moments &b)
{
    cv::multiply(a.values, b.values, m_product);
    gaussian(m_product, m_ab);

    // The constants go to every channel (not only the first): with zero in the others their
    // denominator vanishes wherever a tile is flat, and noise on a still picture reads as a
    // change there.
    const int channels = a.values.channels();
    const int compared = std::min(channels, 3);
    const int columns = a.values.cols;
    double sums[3] = {0, 0, 0};
    m_map.create(a.values.size(), CV_32F);
    for (int y = 0; y < a.values.rows; ++y) {
        const float *muA = a.mean.ptr<float>(y);
        const float *muB = b.mean.ptr<float>(y);
        const float *aa = a.meanOfSquares.ptr<float>(y);
        const float *bb = b.meanOfSquares.ptr<float>(y);
        const float *ab = m_ab.ptr<float>(y);
        float *map = m_map.ptr<float>(y);
        int x = 0;
#if CV_SIMD128
        // Four pixels at a time; the row's sums stay in floats (a few dozen terms), the tile's
        // in doubles.
        if (channels == 3) {
            const cv::v_float32x4 one = cv::v_setall_f32(1.0f);
            cv::v_float32x4 rowSums[3] = {cv::v_setzero_f32(), cv::v_setzero_f32(),
                                          cv::v_setzero_f32()};
            for (; x + 4 <= columns; x += 4) {
                cv::v_float32x4 ma[3], mb[3], va[3], vb[3], vab[3], s[3];
                cv::v_load_deinterleave(muA + 3 * x, ma[0], ma[1], ma[2]);
                cv::v_load_deinterleave(muB + 3 * x, mb[0], mb[1], mb[2]);
                cv::v_load_deinterleave(aa + 3 * x, va[0], va[1], va[2]);
                cv::v_load_deinterleave(bb + 3 * x, vb[0], vb[1], vb[2]);
                cv::v_load_deinterleave(ab + 3 * x, vab[0], vab[1], vab[2]);
                for (int c = 0; c < 3; ++c) {
                    s[c] = ssim(ma[c], mb[c], va[c], vb[c], vab[c]);
                    rowSums[c] += s[c];
                }
                cv::v_store(map + x, cv::v_min(one, cv::v_min(cv::v_min(s[0], s[1]), s[2])));
            }
            for (int c = 0; c < 3; ++c)
                sums[c] += double(cv::v_reduce_sum(rowSums[c]));
        }
#endif
        for (; x < columns; ++x) {
            float worst = 1.0f;
            for (int c = 0; c < compared; ++c) {
                const int i = x * channels + c;
                const float s = ssim(muA[i], muB[i], aa[i], bb[i], ab[i]);
                sums[c] += s;
                worst = std::min(worst, s);
            }
            map[x] = worst;
        }
    }
    double mean = 1.0;
    const double pixels = double(a.values.total());
    for (int c = 0; c < compared; ++c)
        mean = std::min(mean, sums[c] / pixels);
    return mean;
}

double TileSimilarity::worstBlock(double mean)
{
    // Block means by area averaging; a narrow last column or row of the picture is one block.
    const cv::Size blocks(std::max(1, m_map.cols / blockSize), std::max(1, m_map.rows / blockSize));
    cv::resize(m_map, m_blocks, blocks, 0, 0, cv::INTER_AREA);
    double lowest = 1.0;
    cv::minMaxLoc(m_blocks, &lowest);
    return std::min(lowest, mean);
}
