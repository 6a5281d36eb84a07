#pragma once

#include <QString>

// The identity under which the recorder and the settings reset tool address the same settings
// store. Both programs call apply() before they touch QSettings.
namespace ApplicationIdentity {

inline constexpr char applicationName[] = "QuilloraRecorder";
inline constexpr char applicationVersion[] = "150";
inline constexpr char organizationName[] = "Quillora";
inline constexpr char organizationDomain[] = "quillora.example";

void apply();

} // namespace ApplicationIdentity
