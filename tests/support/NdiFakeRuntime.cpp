#include "NdiFakeRuntime.h"

#include "NdiRuntime.h"

#include <QLibrary>

namespace NdiFakeRuntime {

QString directory()
{
    return QStringLiteral(QUILLORA_BINARY_DIR "/tests/fake_ndi");
}

void install()
{
    qputenv("NDI_RUNTIME_DIR_V6", directory().toLocal8Bit());
    qunsetenv("NDI_RUNTIME_DIR_V5");
}

QuilloraFakeNdiState state()
{
    QuilloraFakeNdiState result{};
    const QString path = NdiRuntime::instance().libraryPath();
    if (path.isEmpty())
        return result;
    const auto read = reinterpret_cast<QuilloraFakeNdiStateFunction>(
        QLibrary::resolve(path, "quillora_fake_ndi_state"));
    if (read)
        read(&result);
    return result;
}

} // namespace NdiFakeRuntime
