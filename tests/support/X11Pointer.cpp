#include "X11Pointer.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

struct X11Pointer::Connection
{
    Display *display = nullptr;
};

X11Pointer::X11Pointer() : m_connection(std::make_unique<Connection>())
{
    m_connection->display = XOpenDisplay(nullptr);
    int event = 0, error = 0, major = 0, minor = 0;
    if (m_connection->display &&
        !XTestQueryExtension(m_connection->display, &event, &error, &major, &minor)) {
        XCloseDisplay(m_connection->display);
        m_connection->display = nullptr;
    }
}

X11Pointer::~X11Pointer()
{
    if (m_connection->display)
        XCloseDisplay(m_connection->display);
}

bool X11Pointer::isValid() const
{
    return m_connection->display != nullptr;
}

void X11Pointer::moveTo(const QPoint &position)
{
    XTestFakeMotionEvent(m_connection->display, -1, position.x(), position.y(), CurrentTime);
    XSync(m_connection->display, False);
}

void X11Pointer::moveBy(int dx, int dy)
{
    XTestFakeRelativeMotionEvent(m_connection->display, dx, dy, CurrentTime);
    XSync(m_connection->display, False);
}

QPoint X11Pointer::position() const
{
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, winX = 0, winY = 0;
    unsigned int mask = 0;
    XQueryPointer(m_connection->display, DefaultRootWindow(m_connection->display), &root, &child,
                  &rootX, &rootY, &winX, &winY, &mask);
    return QPoint(rootX, rootY);
}
