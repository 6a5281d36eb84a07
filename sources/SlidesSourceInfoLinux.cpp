#include "SlidesSourceInfoLinux.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>

#include <algorithm>

namespace {

QString readSysfsValue(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.read(4096)).trimmed();
}

// Node number -> the first (by name) stable link pointing at /dev/videoN.
QMap<int, QString> stableLinks(const QString &byIdDir)
{
    static const QRegularExpression nodeName(QStringLiteral("^video(\\d+)$"));
    QMap<int, QString> links;
    const QDir dir(byIdDir);
    const QFileInfoList entries =
        dir.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : entries) {
        if (!entry.isSymLink())
            continue;
        const QRegularExpressionMatch match =
            nodeName.match(QFileInfo(entry.symLinkTarget()).fileName());
        if (!match.hasMatch())
            continue;
        const int number = match.captured(1).toInt();
        if (!links.contains(number))
            links.insert(number, dir.absoluteFilePath(entry.fileName()));
    }
    return links;
}

} // namespace

namespace SlidesSourceInfoLinux {

QList<SlidesSourceInfo> availableVideoInputs(const QString &sysfsRoot, const QString &byIdDir)
{
    static const QRegularExpression nodeName(QStringLiteral("^video(\\d+)$"));
    const QDir root(sysfsRoot);
    QList<int> numbers;
    const QStringList entries = root.entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        const QRegularExpressionMatch match = nodeName.match(entry);
        bool ok = false;
        const int number = match.hasMatch() ? match.captured(1).toInt(&ok) : -1;
        if (ok)
            numbers.append(number);
    }
    std::sort(numbers.begin(), numbers.end());

    QMap<int, QString> links;
    bool linksRead = false;
    QList<SlidesSourceInfo> inputs;
    for (const int number : std::as_const(numbers)) {
        const QString nodeDir = root.absoluteFilePath(QStringLiteral("video%1").arg(number));
        const QString name = readSysfsValue(nodeDir + QStringLiteral("/name"));
        if (name.isEmpty())
            continue;
        const QString nodeIndex = readSysfsValue(nodeDir + QStringLiteral("/index"));
        if (!nodeIndex.isEmpty() && nodeIndex != QLatin1String("0"))
            continue;
        if (!linksRead) {
            links = stableLinks(byIdDir);
            linksRead = true;
        }
        const QString path = links.value(number, QStringLiteral("/dev/video%1").arg(number));
        inputs.append(SlidesSourceInfo(SlidesSourceInfo::videoInputEnabledByName(name),
                                       SlidesSourceInfo::Camera, path.toUtf8(), number, name));
    }
    return inputs;
}

} // namespace SlidesSourceInfoLinux

QList<SlidesSourceInfo> SlidesSourceInfo::availableSlideSourcesWindowsDirectShow()
{
    // On Linux the capture devices come from V4L2; the name is kept for the callers' sake.
    return SlidesSourceInfoLinux::availableVideoInputs(
        QString::fromLatin1(SlidesSourceInfoLinux::defaultSysfsRoot),
        QString::fromLatin1(SlidesSourceInfoLinux::defaultByIdDir));
}
