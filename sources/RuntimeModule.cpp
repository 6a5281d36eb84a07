#include "RuntimeModule.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>

RuntimeModule::RuntimeModule(const QString &name) : m_name(name) {}

bool RuntimeModule::load()
{
    if (m_library.isLoaded())
        return true;
    // Installed, the modules sit beside the program; in the build tree the test programs live one
    // directory further down.
    const QString programDir = QCoreApplication::applicationDirPath();
    const QStringList candidates{QDir(programDir).absoluteFilePath(m_name),
                                 QDir(programDir).absoluteFilePath(QStringLiteral("../") + m_name)};
    QStringList errors;
    for (const QString &candidate : candidates) {
        m_library.setFileName(QDir::cleanPath(candidate));
        if (m_library.load()) {
            qDebug() << "[RuntimeModule]"
                     << "loaded" << m_library.fileName();
            return true;
        }
        errors << m_library.errorString();
    }
    m_error = QStringLiteral("The program's module %1 cannot be loaded: %2")
                  .arg(m_name, errors.join(QStringLiteral("; ")));
    return false;
}

QFunctionPointer RuntimeModule::resolve(const char *symbol)
{
    if (!load())
        return nullptr;
    const QFunctionPointer function = m_library.resolve(symbol);
    if (!function)
        m_error = m_library.errorString();
    return function;
}
