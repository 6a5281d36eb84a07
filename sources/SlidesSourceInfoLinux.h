#pragma once

#include "SlidesSourceInfo.h"

#include <QList>
#include <QString>

// Video capture devices found through V4L2's sysfs class directory.
namespace SlidesSourceInfoLinux {

inline constexpr char defaultSysfsRoot[] = "/sys/class/video4linux";
inline constexpr char defaultByIdDir[] = "/dev/v4l/by-id";

// Capture nodes videoN of sysfsRoot in ascending N. index = N, the number OpenCV's V4L2 back end
// opens; id = the node's stable link in byIdDir when there is one, else "/dev/videoN".
// A node is listed when its "name" file is not empty and its "index" file is 0 (or absent):
// drivers register a device's capture node first and further nodes of the same device after it,
// such as the metadata node uvcvideo adds to every webcam, which cannot be captured from.
QList<SlidesSourceInfo> availableVideoInputs(const QString &sysfsRoot, const QString &byIdDir);

} // namespace SlidesSourceInfoLinux
