#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class PresentationExporter;

// What a presentation can be exported to.
enum class ExportKind
{
    Video,
    Handout,
    PlayerPage
};

namespace ExportKinds {

// The names used on the command line and by the window: "video", "handout", "player".
QStringList names();
std::optional<ExportKind> fromName(const QString &name);
// "video", "handout", "player page", for messages.
QString description(ExportKind kind);
// "video.mp4", "handout.pdf", "index.html": the file written into the presentation directory when
// the user names none.
QString defaultFileName(ExportKind kind);
// Null with the reason in errorMessage when the exporter's module cannot be loaded.
std::unique_ptr<PresentationExporter> createExporter(ExportKind kind, QString *errorMessage);

} // namespace ExportKinds
