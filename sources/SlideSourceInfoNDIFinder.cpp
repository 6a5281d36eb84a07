#include "SlidesSourceInfo.h"

// No NDI runtime is bound yet: no streams are listed.
QList<SlidesSourceInfo> SlidesSourceInfo::availableSlideSourcesNDI()
{
    return {};
}
