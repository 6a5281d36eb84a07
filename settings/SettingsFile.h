#pragma once

#include <QString>

// The settings store can hold a live-stream token, so its file must be readable by its owner only.
// Every settings class calls restrictToOwner() before it writes and again after QSettings::sync():
// the first call creates a missing file as 0600 (QSettings' atomic save then keeps those
// permissions), the second tightens a file that was created elsewhere with looser ones.
namespace SettingsFile {

// For the default store, QSettings().fileName(). Returns false when the file cannot be secured.
bool restrictToOwner();
bool restrictToOwner(const QString &fileName);

} // namespace SettingsFile
