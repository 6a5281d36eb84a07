#include "SlidesSourceInfo.h"

QList<SlidesSourceInfo> SlidesSourceInfo::availableSlideSources()
{
    QList<SlidesSourceInfo> sources = availableSlideSourcesGeneral();
    sources.append(availableSlideSourcesWindowsDirectShow());
    sources.append(availableSlideSourcesNDI());
    return sources;
}

QList<SlidesSourceInfo> SlidesSourceInfo::availableSlideSourcesGeneral()
{
    return {SlidesSourceInfo(true, ScreenInterval, QByteArrayLiteral("IntervalScreenCapture"), -1,
                             QStringLiteral("Interval screen capture"))};
}

QList<SlidesSourceInfo> SlidesSourceInfo::availableSlideSourcesMacOS()
{
    return {};
}

bool SlidesSourceInfo::videoInputEnabledByName(const QString &name)
{
    // OBS's virtual camera shows the recorder its own output: listed, but never chosen.
    return name.toLower() != QLatin1String("obs virtual camera");
}
