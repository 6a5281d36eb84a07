#pragma once

#include "NdiApi.h"
#include "SlidesSourceInfo.h"

#include <QList>

// The NDI runtime's finder, which discovers NDI streams on the network in the background. One
// finder serves the whole run (see SlidesSourceInfo::availableSlideSourcesNDI); listing only reads
// what it has found so far, so the once-a-second poll never waits on the network.
class SlideSourceInfoNDIFinder
{
public:
    // Creates the runtime's finder unless that has already happened; false while there is none.
    // A failed creation is tried again at the next call.
    bool createFinder();

    // The streams found so far, in the runtime's order.
    [[nodiscard]] QList<SlidesSourceInfo> availableSlideSources() const;

private:
    bool m_finderCreated = false;
    NDIlib_find_instance_t m_finder = nullptr;
    // Without a runtime every poll would fail the same way; saying so once is enough.
    bool m_missingRuntimeLogged = false;
};
