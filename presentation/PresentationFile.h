#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

// Checked writes into a presentation directory. A file of a recording that cannot be written ends
// the recording, so every writer words the failure alike: "Cannot write NAME: REASON", with the
// file's name (no directory) and the system's reason.
namespace PresentationFile {

QString cannotWriteMessage(const QString &filePath, const QString &reason);

// Replaces the file with data as a whole: written under a temporary name and renamed once
// complete, so the file under its name is never a truncated one. On failure the former file (if
// any) stays and errorMessage (if given) receives the message. QIODevice::Text in extraMode
// writes the platform's line endings.
bool replace(const QString &filePath, const QByteArray &data, QString *errorMessage,
             QIODevice::OpenMode extraMode = {});

// Appends data and closes the file. On failure the file is cut back to the length it had, so that
// no half line stays behind, and errorMessage (if given) receives the message.
bool append(const QString &filePath, const QByteArray &data, QString *errorMessage);

} // namespace PresentationFile
