#include "PresentationFile.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace PresentationFile {

namespace {

// For unbuffered devices: a write that stops short (file-size limit, full disk) returns what it
// wrote without an error, and only the next write of the rest fails with the system's reason,
// which a buffered flush can lose. On failure the device's errorString() holds that reason.
bool writeAll(QFileDevice &file, const QByteArray &data)
{
    qint64 written = 0;
    while (written < data.size()) {
        const qint64 n = file.write(data.constData() + written, data.size() - written);
        if (n <= 0)
            return false;
        written += n;
    }
    return true;
}

} // namespace

QString cannotWriteMessage(const QString &filePath, const QString &reason)
{
    return QStringLiteral("Cannot write %1: %2").arg(QFileInfo(filePath).fileName(), reason);
}

bool replace(const QString &filePath, const QByteArray &data, QString *errorMessage,
             QIODevice::OpenMode extraMode)
{
    QSaveFile file(filePath);
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered | extraMode)) {
        if (writeAll(file, data)) {
            if (file.commit())
                return true;
        } else {
            const QString reason = file.errorString();
            file.cancelWriting();
            if (errorMessage)
                *errorMessage = cannotWriteMessage(filePath, reason);
            return false;
        }
    }
    if (errorMessage)
        *errorMessage = cannotWriteMessage(filePath, file.errorString());
    return false;
}

bool append(const QString &filePath, const QByteArray &data, QString *errorMessage)
{
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text |
                   QIODevice::Unbuffered)) {
        if (errorMessage)
            *errorMessage = cannotWriteMessage(filePath, file.errorString());
        return false;
    }
    const qint64 sizeBefore = file.size();
    if (writeAll(file, data))
        return true;

    const QString reason = file.errorString();
    if (!file.resize(sizeBefore))
        qWarning() << "[PresentationFile]"
                   << "cutting back" << filePath << "failed:" << file.errorString();
    if (errorMessage)
        *errorMessage = cannotWriteMessage(filePath, reason);
    return false;
}

} // namespace PresentationFile
