#include "NdiRuntime.h"

#include <QDebug>

#include <type_traits>

const NdiRuntime &NdiRuntime::instance()
{
    static const NdiRuntime runtime;
    return runtime;
}

NdiRuntime::NdiRuntime()
{
    QStringList failures;
    for (const QString &path : candidateLibraries()) {
        QString error;
        if (load(path, &error)) {
            m_available = true;
            m_libraryPath = path;
            qDebug() << "[NdiRuntime]"
                     << "NDI runtime loaded from" << path;
            return;
        }
        failures.append(error);
    }
    m_failureReason = failures.join(QStringLiteral("; "));
}

bool NdiRuntime::load(const QString &path, QString *error)
{
    void *library = openLibrary(path, error);
    if (!library)
        return false;
    m_library = library;
    if (resolveAll(error))
        return true;
    // A library of that name without the functions is not a usable runtime; the next candidate
    // may be.
    *error = path + QStringLiteral(": ") + *error;
    closeLibrary(m_library);
    m_library = nullptr;
    return false;
}

bool NdiRuntime::resolveAll(QString *error)
{
    QStringList missing;
    const auto resolve = [this, &missing](auto &function, const char *name) {
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
            resolveSymbol(m_library, name));
        if (!function)
            missing.append(QString::fromLatin1(name));
    };
    resolve(findCreateV2, "NDIlib_find_create_v2");
    resolve(findGetCurrentSources, "NDIlib_find_get_current_sources");
    resolve(recvCreateV3, "NDIlib_recv_create_v3");
    resolve(recvConnect, "NDIlib_recv_connect");
    resolve(recvCaptureV3, "NDIlib_recv_capture_v3");
    resolve(recvFreeVideoV2, "NDIlib_recv_free_video_v2");
    resolve(recvDestroy, "NDIlib_recv_destroy");
    if (missing.isEmpty())
        return true;
    findCreateV2 = nullptr;
    findGetCurrentSources = nullptr;
    recvCreateV3 = nullptr;
    recvConnect = nullptr;
    recvCaptureV3 = nullptr;
    recvFreeVideoV2 = nullptr;
    recvDestroy = nullptr;
    *error = QStringLiteral("missing functions ") + missing.join(QStringLiteral(", "));
    return false;
}
