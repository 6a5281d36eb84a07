#include "PresentationTestDirs.h"

#include <QFile>

namespace PresentationTestDirs {

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(content) == content.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool makePresentation(const QDir &parent, const QString &name, const QString &title,
                      const QString &recordingStart, const QByteArray &timestamps)
{
    if (!parent.mkpath(name))
        return false;
    const QDir dir(parent.absoluteFilePath(name));
    const QByteArray xml = "<?xml version='1.0' encoding='UTF-8'?>\n<presentation>\n    <name>" +
                           title.toHtmlEscaped().toUtf8() + "</name>\n    <recordingStart>" +
                           recordingStart.toUtf8() + "</recordingStart>\n</presentation>\n";
    if (!writeFile(dir.absoluteFilePath(QStringLiteral("presentation.xml")), xml))
        return false;
    if (!timestamps.isNull() &&
        !writeFile(dir.absoluteFilePath(QStringLiteral("timestamps_ms.txt")), timestamps))
        return false;
    return true;
}

} // namespace PresentationTestDirs
