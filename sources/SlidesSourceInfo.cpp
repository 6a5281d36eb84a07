#include "SlidesSourceInfo.h"

#include <QDebugStateSaver>

SlidesSourceInfo::SlidesSourceInfo() : m_name(QStringLiteral("<invalid slide source>")) {}

SlidesSourceInfo::SlidesSourceInfo(bool enabled, SlideSourceType type, const QByteArray &id,
                                   int index, const QString &name)
    : m_enabled(enabled), m_type(type), m_id(id), m_index(index), m_name(name)
{
}

bool SlidesSourceInfo::sameAs(const SlidesSourceInfo &other) const
{
    if (m_type == Invalid && other.m_type == Invalid)
        return false;
    return m_id == other.m_id;
}

bool SlidesSourceInfo::operator!=(const SlidesSourceInfo &other) const
{
    if (m_type == Invalid && other.m_type == Invalid)
        return false;
    return !sameAs(other);
}

QDebug operator<<(QDebug debug, const SlidesSourceInfo &info)
{
    QDebugStateSaver saver(debug);
    debug.nospace() << "SlidesSourceInfo(" << static_cast<int>(info.type()) << "," << info.name()
                    << ",index=" << info.index() << ")";
    return debug;
}
