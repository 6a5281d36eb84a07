#pragma once

#include "NdiApi.h"

#include <QString>
#include <QStringList>

// The NDI runtime of this process. The runtime is a closed library that may or may not be
// installed, so it is looked up and bound when first needed instead of being linked: every
// function the recorder calls is resolved by name. Without a runtime, isAvailable() is false and
// the function pointers are null.
class NdiRuntime
{
public:
    // Bound on first use (thread-safe) and kept until the process ends: the runtime runs threads
    // of its own for the finder, which is never destroyed, so it must never be unloaded.
    static const NdiRuntime &instance();

    // The files tried, in order: each major version first in the directory its runtime installer
    // names in the environment, then by plain name through the system's library search.
    static QStringList candidateLibraries();

    [[nodiscard]] bool isAvailable() const { return m_available; }
    // The file the runtime was loaded from; empty when none was.
    [[nodiscard]] QString libraryPath() const { return m_libraryPath; }
    // Why no runtime is available, for the log.
    [[nodiscard]] QString failureReason() const { return m_failureReason; }

    NDIlib_find_create_v2_fn findCreateV2 = nullptr;
    NDIlib_find_get_current_sources_fn findGetCurrentSources = nullptr;
    NDIlib_recv_create_v3_fn recvCreateV3 = nullptr;
    NDIlib_recv_connect_fn recvConnect = nullptr;
    NDIlib_recv_capture_v3_fn recvCaptureV3 = nullptr;
    NDIlib_recv_free_video_v2_fn recvFreeVideoV2 = nullptr;
    NDIlib_recv_destroy_fn recvDestroy = nullptr;

    NdiRuntime(const NdiRuntime &) = delete;
    NdiRuntime &operator=(const NdiRuntime &) = delete;

private:
    NdiRuntime();

    bool load(const QString &path, QString *error);
    bool resolveAll(QString *error);

    // Platform layer (NdiRuntimeLinux.cpp, NdiRuntimeWindows.cpp).
    static void *openLibrary(const QString &path, QString *error);
    static void *resolveSymbol(void *library, const char *name);
    static void closeLibrary(void *library);

    void *m_library = nullptr;
    bool m_available = false;
    QString m_libraryPath;
    QString m_failureReason;
};
