#pragma once

#include "../fake_ndi/FakeNdiControl.h"

#include <QString>

// Access to the fake NDI runtime of tests/fake_ndi from the tests.
namespace NdiFakeRuntime {

// The directory where the fake is built as libndi.so.6.
QString directory();

// Makes the run-time lookup find the fake and nothing else. Call before the runtime is first
// used in the process.
void install();

// Counters and the last receiver settings of the fake the process has loaded; all zero when the
// process has not loaded it.
QuilloraFakeNdiState state();

} // namespace NdiFakeRuntime
