#pragma once

#include "SlideSource.h"

#include <memory>

class ScreenGrabber;

// Grabs every screen of this computer once a second; one picture per screen and batch, in the
// order of the application's screen list. How a screen is grabbed is up to the ScreenGrabber made
// for the source thread when it starts.
class SlideSourceScreenInterval : public SlideSource
{
    Q_OBJECT

public:
    explicit SlideSourceScreenInterval(const SlidesSourceInfo &info);
    ~SlideSourceScreenInterval() override;

    void captureSlide() override;

protected:
    void run() override;

private:
    void capture(bool forceNewSlide) override;

    std::unique_ptr<ScreenGrabber> m_grabber;
    int m_screenCount = 0;
};
