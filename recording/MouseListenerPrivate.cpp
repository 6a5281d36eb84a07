#include "MouseListenerPrivate.h"

#include "MouseListenerPrivateNull.h"

#if defined(Q_OS_WIN)
#include "MouseListenerPrivateWindows.h"
#elif defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
#include "MouseListenerPrivateX11.h"
#include <QGuiApplication>
#endif

MouseListenerPrivate::MouseListenerPrivate(QObject *parent) : QObject(parent)
{
    m_mouseTimer.start();
}

std::unique_ptr<MouseListenerPrivate> MouseListenerPrivate::create()
{
    if (qEnvironmentVariable("QUILLORA_MOUSE_LISTENER") == QLatin1String("null"))
        return std::make_unique<MouseListenerPrivateNull>(QStringLiteral("disabled by request"));
#if defined(Q_OS_WIN)
    return std::make_unique<MouseListenerPrivateWindows>();
#elif defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 && x11->connection())
        return std::make_unique<MouseListenerPrivateX11>(x11->connection());
    return std::make_unique<MouseListenerPrivateNull>(QStringLiteral("no X11 display"));
#else
    return std::make_unique<MouseListenerPrivateNull>(QStringLiteral("unsupported platform"));
#endif
}
