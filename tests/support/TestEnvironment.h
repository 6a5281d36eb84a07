#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Where the tests find the built programs and their data, and small helpers shared by them.
namespace TestEnvironment {

// Path of a program built beside the tests (QuilloraRecorder, QuilloraSettingsReset, ...).
QString binaryPath(const QString &name);
QString sourceDir();
QString dataDir();
// A directory under the build tree for files a reviewer may want to look at (screenshots).
QString outputDir();

// Environment for a child program: the current one with a private settings store in configHome.
QProcessEnvironment childEnvironment(const QString &configHome);

bool hasDisplay();
bool hasPulseAudio();

} // namespace TestEnvironment
