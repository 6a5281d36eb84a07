#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// Runs Debian's chromium headless on a page, once per call with a fresh profile, for the tests of
// the exported player page.
namespace HeadlessChromium {

QString executable();
bool isAvailable();

// The options every run needs here: headless as root without GPU, a private profile, no
// first-run work and no name resolution, so that a request to another host fails at once and
// cannot leave the machine.
QStringList baseArguments(const QString &profileDir);

// The page's DOM once its scripts ran for a few seconds of virtual time. A run that fails to
// start (chromium crashes now and then on a loaded machine) is tried once more.
bool dumpDom(const QUrl &url, QString *dom, QString *errorMessage);

} // namespace HeadlessChromium
