#pragma once

#include <QDebug>
#include <QString>

// Why a transfer failed: S3's error code and message from its XML answer, or the network
// library's description when no answer arrived.
struct S3Error
{
    QString exceptionName;
    QString message;
};

inline QDebug operator<<(QDebug debug, const S3Error &error)
{
    const QDebugStateSaver saver(debug);
    debug.nospace().noquote() << "S3Error{" << error.exceptionName << ": " << error.message << "}";
    return debug;
}
