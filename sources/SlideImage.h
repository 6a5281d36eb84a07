#pragma once

#include <QImage>
#include <QList>
#include <QMetaType>

namespace cv {
class Mat;
}

// One captured picture. The matrix is allocated by the slide source and travels along the
// pipeline by pointer: whoever receives a batch owns its matrices and must release them exactly
// once (see releaseFrames). Copying a SlideImage shares the matrix; destroying one never frees it.
struct SlideImage
{
    const cv::Mat *frame = nullptr;
    // For the screen source independent of the matrix; other sources may build it on the
    // matrix's pixels, so keep a deep copy to use it after the matrix is gone.
    QImage image;
    // The source knows these are the very pixels of its previous picture of this screen (the
    // same matrix data), so whatever was computed from that one still holds.
    bool unchanged = false;

    // Deletes the matrix of every picture of a batch; the batch must not be used afterwards.
    static void releaseFrames(const QList<SlideImage> &slides);
    static void registerMetaTypes();
};

Q_DECLARE_METATYPE(SlideImage)
Q_DECLARE_METATYPE(QList<SlideImage>)
