#include "MetaTypes.h"

namespace MetaTypes {

void registerAll()
{
    qRegisterMetaType<cv::Mat>("cv::Mat");
}

} // namespace MetaTypes
