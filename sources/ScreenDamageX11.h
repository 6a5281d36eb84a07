#pragma once

#include <QRegion>

#include <cstdint>
#include <memory>
#include <optional>

struct xcb_connection_t;

// Tells which parts of the root window were drawn since the last time it was asked, through the
// X damage extension: a still screen then needs no capture at all. It keeps a connection of its
// own, so that the server's damage notifications never reach Qt's event queue. Asking costs one
// round trip and copies no pixels.
class ScreenDamageX11
{
public:
    // Null when the display cannot be reached or lacks the damage or region extensions.
    [[nodiscard]] static std::unique_ptr<ScreenDamageX11> create(const char *displayName);

    ~ScreenDamageX11();
    ScreenDamageX11(const ScreenDamageX11 &) = delete;
    ScreenDamageX11 &operator=(const ScreenDamageX11 &) = delete;

    // What was drawn since the previous call (since creation, the first time), in root window
    // coordinates; nothing when the server could not say (the connection broke), and then the
    // caller has to assume everything changed.
    [[nodiscard]] std::optional<QRegion> takeDamage();

private:
    struct ConnectionDeleter
    {
        void operator()(xcb_connection_t *connection) const;
    };
    using Connection = std::unique_ptr<xcb_connection_t, ConnectionDeleter>;

    ScreenDamageX11(Connection connection, uint32_t damage, uint32_t region);

    Connection m_connection;
    uint32_t m_damage;
    uint32_t m_region;
};
