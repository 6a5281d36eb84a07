#include "PulseModule.h"

#include <QProcess>

PulseModule::PulseModule(const QString &name, const QString &arguments)
    : m_name(name), m_arguments(arguments)
{
    load();
}

PulseModule::~PulseModule()
{
    unload();
}

bool PulseModule::load()
{
    if (isLoaded())
        return true;
    QStringList arguments{QStringLiteral("load-module"), m_name};
    arguments += m_arguments.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), arguments);
    if (!pactl.waitForFinished(10000) || pactl.exitStatus() != QProcess::NormalExit ||
        pactl.exitCode() != 0)
        return false;
    bool ok = false;
    const int index = QString::fromLatin1(pactl.readAllStandardOutput()).trimmed().toInt(&ok);
    m_index = ok ? index : -1;
    return ok;
}

bool PulseModule::unload()
{
    if (!isLoaded())
        return true;
    const bool unloaded =
        QProcess::execute(QStringLiteral("pactl"),
                          {QStringLiteral("unload-module"), QString::number(m_index)}) == 0;
    if (unloaded)
        m_index = -1;
    return unloaded;
}
