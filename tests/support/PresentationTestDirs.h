#pragma once

#include <QDir>
#include <QString>

// Builds presentation directories on disk for the presentation store tests.
namespace PresentationTestDirs {

bool writeFile(const QString &path, const QByteArray &content);
// The file's bytes; a null array when it cannot be read.
QByteArray readFile(const QString &path);
// A directory with a presentation.xml as the recorder writes it, and optional slide lines.
bool makePresentation(const QDir &parent, const QString &name, const QString &title,
                      const QString &recordingStart, const QByteArray &timestamps = {});

} // namespace PresentationTestDirs
