#include "NdiRuntime.h"

#include <QDir>

#include <windows.h>

QStringList NdiRuntime::candidateLibraries()
{
    QStringList candidates;
    const QString fileName = QStringLiteral("Processing.NDI.Lib.x64.dll");
    // The runtime installer names its directory in the environment; without it the DLL may still
    // sit beside the program or on the PATH.
    for (const char *variable : {"NDI_RUNTIME_DIR_V6", "NDI_RUNTIME_DIR_V5"}) {
        const QString directory = qEnvironmentVariable(variable);
        if (!directory.isEmpty())
            candidates.append(QDir::toNativeSeparators(QDir(directory).filePath(fileName)));
    }
    candidates.append(fileName);
    return candidates;
}

void *NdiRuntime::openLibrary(const QString &path, QString *error)
{
    HMODULE library = LoadLibraryW(reinterpret_cast<const wchar_t *>(path.utf16()));
    if (!library)
        *error = path + QStringLiteral(": error ") + QString::number(GetLastError());
    return library;
}

void *NdiRuntime::resolveSymbol(void *library, const char *name)
{
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void NdiRuntime::closeLibrary(void *library)
{
    FreeLibrary(static_cast<HMODULE>(library));
}
