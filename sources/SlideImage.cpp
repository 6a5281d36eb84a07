#include "SlideImage.h"

#include <opencv2/core/mat.hpp>

void SlideImage::releaseFrames(const QList<SlideImage> &slides)
{
    for (const SlideImage &slide : slides)
        delete slide.frame;
}

void SlideImage::registerMetaTypes()
{
    qRegisterMetaType<SlideImage>("SlideImage");
    qRegisterMetaType<QList<SlideImage>>("QList<SlideImage>");
}
