#include "ScreenGrabberX11.h"

#include "ScreenDamageX11.h"
#include "SharedMemorySegmentX11.h"
#include "XcbReplyX11.h"

#include "FrameLogging.h"

#include <QDebug>
#include <QImage>
#include <QScreen>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdlib>
#include <cstring>
#include <xcb/shm.h>
#include <xcb/xcb.h>

// Last: its macros (None, Bool, Status) would clash with the headers above.
#include <X11/Xlib.h>

namespace {

constexpr int bytesPerPixel = 4;

// The server's pixels must be what the conversion expects: 32 bits per pixel, least significant
// byte first, blue in the lowest byte. Anything else (16-bit displays, big-endian servers) is
// left to Qt's grab, which knows every layout.
bool hasBgrxPixels(const xcb_setup_t *setup, const xcb_screen_t *screen)
{
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
        return false;
    bool formatOk = false;
    for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem;
         xcb_format_next(&formats)) {
        if (formats.data->depth == screen->root_depth)
            formatOk = formats.data->bits_per_pixel == 32;
    }
    if (!formatOk)
        return false;
    for (auto depths = xcb_screen_allowed_depths_iterator(screen); depths.rem;
         xcb_depth_next(&depths)) {
        for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem;
             xcb_visualtype_next(&visuals)) {
            if (visuals.data->visual_id == screen->root_visual)
                return visuals.data->red_mask == 0xff0000 && visuals.data->green_mask == 0xff00 &&
                       visuals.data->blue_mask == 0xff;
        }
    }
    return false;
}

// The screen's region of the root window in device pixels. Qt keeps a screen's origin in device
// pixels and divides only its size by the scale factor.
QRect nativeGeometry(const QScreen *screen)
{
    const qreal ratio = screen->devicePixelRatio();
    return QRect(screen->geometry().topLeft(), QSize(qRound(screen->size().width() * ratio),
                                                     qRound(screen->size().height() * ratio)));
}

} // namespace

ScreenGrabberX11::ScreenGrabberX11(xcb_connection_t *connection, uint32_t root,
                                   const QRect &rootGeometry,
                                   std::unique_ptr<ScreenDamageX11> damage)
    : m_connection(connection), m_root(root), m_rootGeometry(rootGeometry),
      m_damage(std::move(damage))
{
    connect(&m_fallback, &ScreenGrabber::grabError, this, &ScreenGrabber::grabError);
}

ScreenGrabberX11::~ScreenGrabberX11() = default;

std::unique_ptr<ScreenGrabberX11> ScreenGrabberX11::create(xcb_connection_t *connection,
                                                           _XDisplay *display)
{
    if (!connection || xcb_connection_has_error(connection))
        return nullptr;
    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(connection, &xcb_shm_id);
    if (!extension || !extension->present) {
        qDebug() << "[ScreenGrabberX11]"
                 << "the X server has no shared-memory extension";
        return nullptr;
    }
    const xcb_setup_t *setup = xcb_get_setup(connection);
    const xcb_screen_iterator_t roots = xcb_setup_roots_iterator(setup);
    // With several X screens, Qt's screens do not say which root they belong to.
    if (roots.rem != 1) {
        qDebug() << "[ScreenGrabberX11]" << roots.rem << "X screens";
        return nullptr;
    }
    const xcb_screen_t *screen = roots.data;
    if (!hasBgrxPixels(setup, screen)) {
        qDebug() << "[ScreenGrabberX11]"
                 << "pixel layout other than 32-bit B G R X, depth" << screen->root_depth;
        return nullptr;
    }
    // A small segment tells whether the server can attach ours at all (it cannot across
    // machines).
    if (!SharedMemorySegmentX11::create(connection, 4096))
        return nullptr;
    std::unique_ptr<ScreenDamageX11> damage =
        display ? ScreenDamageX11::create(XDisplayString(display)) : nullptr;
    return std::unique_ptr<ScreenGrabberX11>(new ScreenGrabberX11(
        connection, screen->root, QRect(0, 0, screen->width_in_pixels, screen->height_in_pixels),
        std::move(damage)));
}

SlideImage ScreenGrabberX11::grab(int index, QScreen *screen)
{
    const QRect rect = nativeGeometry(screen);
    if (!m_rootGeometry.contains(rect))
        updateRootGeometry();
    if (index >= 0 && !rect.isEmpty() && m_rootGeometry.contains(rect)) {
        if (size_t(index) >= m_lastCaptures.size())
            m_lastCaptures.resize(size_t(index) + 1);
        const std::optional<QRegion> drawn = takeDamageIn(index, rect);
        LastCapture &last = m_lastCaptures[size_t(index)];
        const bool haveLast = drawn && !last.frame.empty() && last.rect == rect;
        const bool check = haveLast && last.uncheckedGrabs + 1 >= grabsPerCheck;
        if (haveLast && !check && drawn->isEmpty()) {
            ++last.uncheckedGrabs;
            return imageOf(std::make_unique<cv::Mat>(last.frame), screen, true);
        }
        if (std::unique_ptr<cv::Mat> frame = capture(index, rect)) {
            m_failureReported = false;
            if (haveLast) {
                // Drawing that leaves the same pixels (a window painting itself again) is no
                // change: only the drawn part can differ, but the check looks at everything.
                if (samePixels(*frame, last.frame,
                               check ? QRegion(0, 0, rect.width(), rect.height()) : *drawn)) {
                    last.uncheckedGrabs = check ? 0 : last.uncheckedGrabs + 1;
                    return imageOf(std::make_unique<cv::Mat>(last.frame), screen, true);
                }
                if (check && samePixels(*frame, last.frame, *drawn))
                    checkDamageReports(index, *frame, rect, *drawn, screen);
            }
            // What was drawn meanwhile stays owed to the next grab.
            last.frame = *frame;
            last.rect = rect;
            last.uncheckedGrabs = 0;
            return imageOf(std::move(frame), screen, false);
        }
        last = LastCapture{};
    }
    if (!m_failureReported) {
        qWarning() << "[ScreenGrabberX11]"
                   << "shared-memory grab of screen" << screen->name() << rect
                   << "failed; grabbing through Qt";
        m_failureReported = true;
    }
    return m_fallback.grab(index, screen);
}

void ScreenGrabberX11::checkDamageReports(int index, const cv::Mat &frame, const QRect &rect,
                                          const QRegion &drawn, const QScreen *screen)
{
    // Drawing between taking the damage and the capture may be in the picture already; it is
    // reported now, and still owed to the next grab.
    const std::optional<QRegion> since = takeDamageIn(index, rect);
    if (!since)
        return;
    LastCapture &last = m_lastCaptures[size_t(index)];
    last.pendingDamage += since->translated(rect.topLeft());
    const QRegion unreported = QRegion(0, 0, rect.width(), rect.height()) - drawn - *since;
    if (samePixels(frame, last.frame, unreported))
        return;
    qWarning()
        << "[ScreenGrabberX11]"
        << "screen" << screen->name()
        << "changed where the X server reported no drawing; capturing every time from now on";
    m_damage.reset();
}

std::optional<QRegion> ScreenGrabberX11::takeDamageIn(int index, const QRect &rect)
{
    if (!m_damage)
        return std::nullopt;
    const std::optional<QRegion> drawn = m_damage->takeDamage();
    if (!drawn) {
        qWarning() << "[ScreenGrabberX11]"
                   << "the X server's damage reports failed; capturing every time from now on";
        m_damage.reset();
        return std::nullopt;
    }
    qCDebug(lcFrames) << "[ScreenGrabberX11]"
                      << "drawn since the last grab:" << *drawn;
    // The server's damage is taken for all screens at once; each keeps its share.
    if (!drawn->isEmpty()) {
        for (LastCapture &capture : m_lastCaptures)
            capture.pendingDamage += drawn->intersected(capture.rect);
    }
    LastCapture &last = m_lastCaptures[size_t(index)];
    // A screen that moved since its last grab is captured whole: the old share does not matter.
    const QRegion inRect =
        (last.pendingDamage + *drawn).intersected(rect).translated(-rect.topLeft());
    last.pendingDamage = QRegion();
    return inRect;
}

bool ScreenGrabberX11::samePixels(const cv::Mat &a, const cv::Mat &b, const QRegion &region)
{
    if (a.size != b.size || a.type() != b.type())
        return false;
    const size_t pixelSize = a.elemSize();
    for (const QRect &part : region) {
        const QRect clipped = part.intersected(QRect(0, 0, a.cols, a.rows));
        const size_t bytes = size_t(clipped.width()) * pixelSize;
        for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
            const size_t offset = size_t(clipped.left()) * pixelSize;
            if (std::memcmp(a.ptr(y) + offset, b.ptr(y) + offset, bytes) != 0)
                return false;
        }
    }
    return true;
}

std::unique_ptr<cv::Mat> ScreenGrabberX11::capture(int index, const QRect &rect)
{
    SharedMemorySegmentX11 *segment =
        segmentFor(index, size_t(rect.width()) * size_t(rect.height()) * bytesPerPixel);
    if (!segment || !grabInto(segment, rect))
        return nullptr;
    try {
        std::unique_ptr<cv::Mat> frame = m_frames.take(index, rect.height(), rect.width(), CV_8UC3);
        const cv::Mat pixels(rect.height(), rect.width(), CV_8UC4, segment->data(),
                             size_t(rect.width()) * bytesPerPixel);
        cv::cvtColor(pixels, *frame, cv::COLOR_BGRA2BGR);
        return frame;
    } catch (const cv::Exception &exception) {
        qWarning() << "[ScreenGrabberX11]"
                   << "cv::Exception:" << exception.what();
        return nullptr;
    }
}

SlideImage ScreenGrabberX11::imageOf(std::unique_ptr<cv::Mat> frame, const QScreen *screen,
                                     bool unchanged)
{
    QImage image(frame->data, frame->cols, frame->rows, qsizetype(frame->step),
                 QImage::Format_BGR888);
    image.setDevicePixelRatio(screen->devicePixelRatio());
    return SlideImage{frame.release(), image, unchanged};
}

bool ScreenGrabberX11::grabInto(SharedMemorySegmentX11 *segment, const QRect &rect)
{
    xcb_generic_error_t *error = nullptr;
    const xcb_shm_get_image_cookie_t cookie = xcb_shm_get_image(
        m_connection, m_root, int16_t(rect.x()), int16_t(rect.y()), uint16_t(rect.width()),
        uint16_t(rect.height()), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, segment->id(), 0);
    // The reply comes after the server has written the segment.
    const XcbReply<xcb_shm_get_image_reply_t> reply(
        xcb_shm_get_image_reply(m_connection, cookie, &error));
    if (error) {
        qDebug() << "[ScreenGrabberX11]"
                 << "GetImage failed, error" << error->error_code;
        std::free(error);
        return false;
    }
    return reply != nullptr;
}

SharedMemorySegmentX11 *ScreenGrabberX11::segmentFor(int index, size_t size)
{
    if (index < 0)
        return nullptr;
    if (size_t(index) >= m_segments.size())
        m_segments.resize(size_t(index) + 1);
    std::unique_ptr<SharedMemorySegmentX11> &segment = m_segments[size_t(index)];
    if (!segment || segment->size() != size) {
        segment.reset();
        segment = SharedMemorySegmentX11::create(m_connection, size);
    }
    return segment.get();
}

void ScreenGrabberX11::updateRootGeometry()
{
    // The screens were rearranged since the last grab: the root window may have grown.
    const XcbReply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, m_root), nullptr));
    if (geometry)
        m_rootGeometry = QRect(0, 0, geometry->width, geometry->height);
}

void ScreenGrabberX11::releaseScreensFrom(int index)
{
    if (index >= 0 && size_t(index) < m_segments.size())
        m_segments.resize(size_t(index));
    if (index >= 0 && size_t(index) < m_lastCaptures.size())
        m_lastCaptures.resize(size_t(index));
    m_frames.releaseScreensFrom(index);
}

QString ScreenGrabberX11::name() const
{
    return QStringLiteral("X11 shared memory");
}
