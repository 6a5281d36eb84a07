#include "ScreenDamageX11.h"

#include "XcbReplyX11.h"

#include <QDebug>

#include <cstdlib>
#include <xcb/damage.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

namespace {

bool hasExtension(xcb_connection_t *connection, xcb_extension_t *extension)
{
    const xcb_query_extension_reply_t *data = xcb_get_extension_data(connection, extension);
    return data && data->present;
}

} // namespace

void ScreenDamageX11::ConnectionDeleter::operator()(xcb_connection_t *connection) const
{
    xcb_disconnect(connection);
}

ScreenDamageX11::ScreenDamageX11(Connection connection, uint32_t damage, uint32_t region)
    : m_connection(std::move(connection)), m_damage(damage), m_region(region)
{}

ScreenDamageX11::~ScreenDamageX11()
{
    if (!xcb_connection_has_error(m_connection.get())) {
        xcb_damage_destroy(m_connection.get(), m_damage);
        xcb_xfixes_destroy_region(m_connection.get(), m_region);
        xcb_flush(m_connection.get());
    }
}

std::unique_ptr<ScreenDamageX11> ScreenDamageX11::create(const char *displayName)
{
    int screenNumber = 0;
    Connection connection(xcb_connect(displayName, &screenNumber));
    if (xcb_connection_has_error(connection.get())) {
        qDebug() << "[ScreenDamageX11]"
                 << "no connection of its own to the display";
        return nullptr;
    }
    xcb_connection_t *c = connection.get();
    if (!hasExtension(c, &xcb_damage_id) || !hasExtension(c, &xcb_xfixes_id)) {
        qDebug() << "[ScreenDamageX11]"
                 << "the X server has no damage or region extension";
        return nullptr;
    }
    // Both extensions refuse requests from clients that did not announce their version first.
    const XcbReply<xcb_xfixes_query_version_reply_t> fixesVersion(xcb_xfixes_query_version_reply(
        c, xcb_xfixes_query_version(c, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
        nullptr));
    const XcbReply<xcb_damage_query_version_reply_t> damageVersion(xcb_damage_query_version_reply(
        c, xcb_damage_query_version(c, XCB_DAMAGE_MAJOR_VERSION, XCB_DAMAGE_MINOR_VERSION),
        nullptr));
    if (!fixesVersion || fixesVersion->major_version < 2 || !damageVersion ||
        damageVersion->major_version < 1) {
        qDebug() << "[ScreenDamageX11]"
                 << "the damage or region extension is too old";
        return nullptr;
    }
    xcb_screen_iterator_t roots = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && roots.rem; ++i)
        xcb_screen_next(&roots);
    if (!roots.rem)
        return nullptr;
    const uint32_t damage = xcb_generate_id(c);
    const uint32_t region = xcb_generate_id(c);
    // One notification when something is drawn after the damage was taken; this class reads the
    // region instead and only drains those.
    const xcb_void_cookie_t created =
        xcb_damage_create_checked(c, damage, roots.data->root, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
    const xcb_void_cookie_t regionCreated = xcb_xfixes_create_region_checked(c, region, 0, nullptr);
    const XcbReply<xcb_generic_error_t> createError(xcb_request_check(c, created));
    const XcbReply<xcb_generic_error_t> regionError(xcb_request_check(c, regionCreated));
    if (createError || regionError) {
        qDebug() << "[ScreenDamageX11]"
                 << "the server refused the damage object or region";
        return nullptr;
    }
    return std::unique_ptr<ScreenDamageX11>(
        new ScreenDamageX11(std::move(connection), damage, region));
}

std::optional<QRegion> ScreenDamageX11::takeDamage()
{
    xcb_connection_t *c = m_connection.get();
    // Moves what was drawn into the region and empties the damage in one request, so nothing
    // drawn in between is lost: it lands in the next call.
    xcb_damage_subtract(c, m_damage, XCB_NONE, m_region);
    xcb_generic_error_t *error = nullptr;
    const XcbReply<xcb_xfixes_fetch_region_reply_t> reply(
        xcb_xfixes_fetch_region_reply(c, xcb_xfixes_fetch_region(c, m_region), &error));
    bool failed = error != nullptr || !reply;
    std::free(error);
    while (xcb_generic_event_t *event = xcb_poll_for_event(c)) {
        // An error of the subtraction arrives as an event without a reply.
        failed = failed || event->response_type == 0;
        std::free(event);
    }
    if (failed || xcb_connection_has_error(c))
        return std::nullopt;
    QRegion drawn;
    const xcb_rectangle_t *rectangles = xcb_xfixes_fetch_region_rectangles(reply.get());
    const int count = xcb_xfixes_fetch_region_rectangles_length(reply.get());
    for (int i = 0; i < count; ++i)
        drawn += QRect(rectangles[i].x, rectangles[i].y, rectangles[i].width, rectangles[i].height);
    return drawn;
}
