// Capture devices on Windows come from DirectShow's system device enumerator, in the order in
// which OpenCV's DirectShow back end numbers them.
#include "SlidesSourceInfo.h"
#include "VideoInputEnumerationWindows.h"

#include <QDebug>

namespace {

const char *problemText(VideoInputEnumerationWindows::Problem problem)
{
    using Problem = VideoInputEnumerationWindows::Problem;
    switch (problem) {
    case Problem::CannotEnumerate:
        return "cannot enumerate video inputs";
    case Problem::CannotBindToStorage:
        return "cannot bind to storage for video input";
    case Problem::NoDeviceName:
        return "cannot get a device name for a video input";
    }
    return "unknown problem with a video input";
}

} // namespace

QList<SlidesSourceInfo> SlidesSourceInfo::availableSlideSourcesWindowsDirectShow()
{
    const VideoInputEnumerationWindows::Result result =
        VideoInputEnumerationWindows::enumerateVideoInputs();
    for (const VideoInputEnumerationWindows::Problem problem : result.problems)
        qWarning() << "[SlidesSourceInfo]" << problemText(problem);

    QList<SlidesSourceInfo> sources;
    sources.reserve(static_cast<qsizetype>(result.inputs.size()));
    for (const VideoInputEnumerationWindows::VideoInput &input : result.inputs) {
        const QString name = QString::fromStdWString(input.name);
        sources.append(SlidesSourceInfo(videoInputEnabledByName(name), SlidesSourceInfo::Camera,
                                        QString::fromStdWString(input.id).toUtf8(), input.index,
                                        name));
    }
    return sources;
}
