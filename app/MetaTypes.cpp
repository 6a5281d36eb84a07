#include "MetaTypes.h"

#include "SlideImage.h"

namespace MetaTypes {

void registerAll()
{
    qRegisterMetaType<cv::Mat>("cv::Mat");
    SlideImage::registerMetaTypes();
}

} // namespace MetaTypes
