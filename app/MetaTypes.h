#pragma once

#include <QMetaType>
#include <opencv2/core/mat.hpp>

// cv::Mat travels between the capture, detection and saving threads in queued signals.
Q_DECLARE_METATYPE(cv::Mat)

namespace MetaTypes {
void registerAll();
}
