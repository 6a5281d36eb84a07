#include "ExportKind.h"

#include "HandoutExporter.h"
#include "PlayerPageWriter.h"
#include "VideoExporter.h"

namespace ExportKinds {

QStringList names()
{
    return {QStringLiteral("video"), QStringLiteral("handout"), QStringLiteral("player")};
}

std::optional<ExportKind> fromName(const QString &name)
{
    if (name == QLatin1String("video"))
        return ExportKind::Video;
    if (name == QLatin1String("handout"))
        return ExportKind::Handout;
    if (name == QLatin1String("player"))
        return ExportKind::PlayerPage;
    return std::nullopt;
}

QString description(ExportKind kind)
{
    switch (kind) {
    case ExportKind::Video:
        return QStringLiteral("video");
    case ExportKind::Handout:
        return QStringLiteral("handout");
    case ExportKind::PlayerPage:
        return QStringLiteral("player page");
    }
    return {};
}

std::unique_ptr<PresentationExporter> createExporter(ExportKind kind)
{
    switch (kind) {
    case ExportKind::Video:
        return std::make_unique<VideoExporter>();
    case ExportKind::Handout:
        return std::make_unique<HandoutExporter>();
    case ExportKind::PlayerPage:
        return std::make_unique<PlayerPageWriter>();
    }
    return nullptr;
}

} // namespace ExportKinds
