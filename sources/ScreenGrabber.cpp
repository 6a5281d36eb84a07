#include "ScreenGrabber.h"

#include "ScreenGrabberQScreen.h"

#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
#include "ScreenGrabberX11.h"
#include <QGuiApplication>
#endif

ScreenGrabber::ScreenGrabber(QObject *parent) : QObject(parent) {}

ScreenGrabber::~ScreenGrabber() = default;

std::unique_ptr<ScreenGrabber> ScreenGrabber::create()
{
    if (qEnvironmentVariable("QUILLORA_SCREEN_GRABBER") == QLatin1String("qscreen"))
        return std::make_unique<ScreenGrabberQScreen>();
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 && x11->connection()) {
        if (std::unique_ptr<ScreenGrabber> grabber =
                ScreenGrabberX11::create(x11->connection(), x11->display()))
            return grabber;
    }
#endif
    return std::make_unique<ScreenGrabberQScreen>();
}

void ScreenGrabber::releaseScreensFrom(int) {}
