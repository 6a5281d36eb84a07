#include "TestEnvironment.h"

#include <QDir>

namespace TestEnvironment {

QString binaryPath(const QString &name)
{
    return QDir(QStringLiteral(QUILLORA_BINARY_DIR)).absoluteFilePath(name);
}

QString sourceDir()
{
    return QStringLiteral(QUILLORA_TEST_SOURCE_DIR);
}

QString dataDir()
{
    return QStringLiteral(QUILLORA_TEST_DATA_DIR);
}

QString outputDir()
{
    const QString dir = QStringLiteral(QUILLORA_TEST_OUTPUT_DIR);
    QDir().mkpath(dir);
    return dir;
}

QProcessEnvironment childEnvironment(const QString &configHome)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!configHome.isEmpty())
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    return environment;
}

bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY");
}

bool hasPulseAudio()
{
    return !qEnvironmentVariableIsEmpty("PULSE_SERVER");
}

} // namespace TestEnvironment
