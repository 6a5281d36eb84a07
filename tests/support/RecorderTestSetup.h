#pragma once

#include <QByteArray>
#include <QString>

// Settings for a test that runs the whole recorder in its own process: a private settings store,
// the recorder's identity and work directory, and the sine source of the test sound server as
// the audio input. Call prepare() in initTestCase() before anything touches QSettings.
namespace RecorderTestSetup {

bool prepare(const QString &configHome, const QString &workDir);
// Waits until the settings' first device poll has resolved the slide source, then selects the
// audio input with the given id; false when either is missing.
bool selectSources(const QByteArray &audioInputId);
QByteArray sineSourceId();

// Threads of this process right now (from /proc), to see that a recording leaves none behind.
int threadCount();

} // namespace RecorderTestSetup
