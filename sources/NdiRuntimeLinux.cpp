#include "NdiRuntime.h"

#include <QDir>
#include <QFile>

#include <dlfcn.h>

QStringList NdiRuntime::candidateLibraries()
{
    QStringList candidates;
    const auto addVersion = [&candidates](const char *directoryVariable, const QString &fileName) {
        const QString directory = qEnvironmentVariable(directoryVariable);
        if (!directory.isEmpty())
            candidates.append(QDir(directory).filePath(fileName));
        candidates.append(fileName);
    };
    addVersion("NDI_RUNTIME_DIR_V6", QStringLiteral("libndi.so.6"));
    addVersion("NDI_RUNTIME_DIR_V5", QStringLiteral("libndi.so.5"));
    return candidates;
}

void *NdiRuntime::openLibrary(const QString &path, QString *error)
{
    void *library = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!library)
        *error = QString::fromLocal8Bit(dlerror());
    return library;
}

void *NdiRuntime::resolveSymbol(void *library, const char *name)
{
    return dlsym(library, name);
}

void NdiRuntime::closeLibrary(void *library)
{
    dlclose(library);
}
