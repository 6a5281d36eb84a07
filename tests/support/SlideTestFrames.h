#pragma once

#include "SlideImage.h"

#include <QImage>
#include <QList>

#include <opencv2/core/mat.hpp>

// Pictures and batches for the slide pipeline tests. Matrices made here are counted while they
// live, so a test can tell that the pipeline deleted exactly the ones it was meant to.
namespace SlideTestFrames {

// A synthetic slide: background, a title bar and some boxes, all chosen by the seed. B G R.
cv::Mat slidePicture(int width, int height, int seed);
// The same picture with independent Gaussian noise, as a capture card delivers a still image.
cv::Mat withNoise(const cv::Mat &picture, double sigma, int seed);

// A heap copy of the picture whose pixels are counted by liveFrames() until it is deleted.
cv::Mat *newCountedFrame(const cv::Mat &picture);
int liveFrames();

// One SlideImage per picture: a counted frame and a deep-copied QImage.
QList<SlideImage> batch(const QList<cv::Mat> &pictures);
QImage toImage(const cv::Mat &bgr);

} // namespace SlideTestFrames
