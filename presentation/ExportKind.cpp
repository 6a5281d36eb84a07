#include "ExportKind.h"

#include "HandoutExporter.h"
#include "PlayerPageWriter.h"
#include "RuntimeModule.h"

#include <mutex>

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

QString defaultFileName(ExportKind kind)
{
    switch (kind) {
    case ExportKind::Video:
        return QStringLiteral("video.mp4");
    case ExportKind::Handout:
        return QStringLiteral("handout.pdf");
    case ExportKind::PlayerPage:
        return QStringLiteral("index.html");
    }
    return {};
}

namespace {

// The video encoder lives in a module of its own, loaded with the first video export.
std::unique_ptr<PresentationExporter> createVideoExporter(QString *errorMessage)
{
    using Create = PresentationExporter *(*)();
    static std::mutex mutex;
    static RuntimeModule module(QStringLiteral("quillora_video"));
    const std::lock_guard lock(mutex);
    const auto create = reinterpret_cast<Create>(module.resolve("quillora_create_video_exporter"));
    if (!create) {
        *errorMessage = module.errorString();
        return nullptr;
    }
    return std::unique_ptr<PresentationExporter>(create());
}

} // namespace

std::unique_ptr<PresentationExporter> createExporter(ExportKind kind, QString *errorMessage)
{
    switch (kind) {
    case ExportKind::Video:
        return createVideoExporter(errorMessage);
    case ExportKind::Handout:
        return std::make_unique<HandoutExporter>();
    case ExportKind::PlayerPage:
        return std::make_unique<PlayerPageWriter>();
    }
    return nullptr;
}

} // namespace ExportKinds
