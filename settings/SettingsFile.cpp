#include "SettingsFile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace SettingsFile {

bool restrictToOwner()
{
    return restrictToOwner(QSettings().fileName());
}

bool restrictToOwner(const QString &fileName)
{
    if (fileName.isEmpty())
        return false;
#ifdef Q_OS_UNIX
    const QFileInfo info(fileName);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    const QByteArray path = QFile::encodeName(info.absoluteFilePath());
    // Created empty and private here, the file never exists with the umask's permissions: an
    // empty file is a valid empty store for QSettings.
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        qWarning() << "[SettingsFile] cannot open" << info.absoluteFilePath()
                   << std::strerror(errno);
        return false;
    }
    const bool ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    if (!ok)
        qWarning() << "[SettingsFile] cannot restrict" << info.absoluteFilePath()
                   << std::strerror(errno);
    ::close(fd);
    return ok;
#else
    // Elsewhere the store lives in the user's profile (the registry on Windows).
    return true;
#endif
}

} // namespace SettingsFile
