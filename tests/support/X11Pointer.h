#pragma once

#include <QPoint>

#include <memory>

// Drives the X11 pointer the way a mouse does, through XTest on a connection of its own, so that
// system-wide listeners see the movements (a plain warp produces no raw motion).
class X11Pointer
{
public:
    X11Pointer();
    ~X11Pointer();
    X11Pointer(const X11Pointer &) = delete;
    X11Pointer &operator=(const X11Pointer &) = delete;

    // False without a display or without the XTest extension.
    [[nodiscard]] bool isValid() const;
    void moveTo(const QPoint &position);
    void moveBy(int dx, int dy);
    [[nodiscard]] QPoint position() const;

private:
    struct Connection;
    std::unique_ptr<Connection> m_connection;
};
