#include "SlideSourceInfoNDIFinder.h"

#include "NdiRuntime.h"

#include <QDebug>

QList<SlidesSourceInfo> SlidesSourceInfo::availableSlideSourcesNDI()
{
    // Never destroyed: the runtime may still use the finder while the process ends.
    static SlideSourceInfoNDIFinder finder;
    finder.createFinder();
    return finder.availableSlideSources();
}

bool SlideSourceInfoNDIFinder::createFinder()
{
    if (m_finderCreated)
        return true;
    const NdiRuntime &runtime = NdiRuntime::instance();
    if (!runtime.isAvailable()) {
        if (!m_missingRuntimeLogged) {
            m_missingRuntimeLogged = true;
            qInfo().noquote() << "[SlideSourceInfoNDIFinder]"
                              << "NDI runtime not found, NDI sources are not available:"
                              << runtime.failureReason();
        }
        return false;
    }
    m_finder = runtime.findCreateV2(nullptr);
    if (!m_finder) {
        qWarning() << "[SlideSourceInfoNDIFinder]"
                   << "failed to create NDI finder";
        return false;
    }
    m_finderCreated = true;
    return true;
}

QList<SlidesSourceInfo> SlideSourceInfoNDIFinder::availableSlideSources() const
{
    QList<SlidesSourceInfo> result;
    if (!m_finderCreated)
        return result;
    uint32_t count = 0;
    const NDIlib_source_t *sources = NdiRuntime::instance().findGetCurrentSources(m_finder, &count);
    if (count == 0 || !sources)
        return result;
    result.reserve(static_cast<qsizetype>(count));
    for (uint32_t i = 0; i < count; ++i) {
        const QByteArray urlAddress(sources[i].p_url_address);
        SlidesSourceInfo info(true, SlidesSourceInfo::NDI, urlAddress, static_cast<int>(i),
                              QString::fromUtf8(sources[i].p_ndi_name));
        info.setData(QStringLiteral("ndiUrlAddress"), QString::fromUtf8(urlAddress));
        result.append(info);
    }
    return result;
}
