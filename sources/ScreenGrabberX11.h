#pragma once

#include "ScreenFramePool.h"
#include "ScreenGrabber.h"
#include "ScreenGrabberQScreen.h"

#include <QRect>
#include <QRegion>

#include <opencv2/core/mat.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class ScreenDamageX11;
class SharedMemorySegmentX11;
struct xcb_connection_t;
struct _XDisplay;

// Grabs screens through the X shared-memory extension on Qt's own connection: the server copies
// the screen's region of the root window into a segment kept per screen, and one pass turns its
// B G R X pixels into the B G R matrix the pipeline uses, in a buffer that is reused once the
// pipeline has let go of it. The image is the same pixels, not a copy. A grab the server refuses
// (a screen that just changed) goes through Qt's generic grab instead.
//
// Where the server reports what was drawn (the damage extension), a screen nothing was drawn on
// since its last grab is not captured again, and one drawn on with the same pixels as before (a
// window that paints itself again) is no new picture: the grab hands out the last picture once
// more, marked unchanged. Every tenth grab without a full capture compares the whole screen, and
// a server whose reports missed a change is not trusted any more.
class ScreenGrabberX11 : public ScreenGrabber
{
    Q_OBJECT

public:
    // Null when the display has no shared-memory extension, cannot share memory with this process,
    // has more than one X screen or keeps its pixels in another layout than 32-bit B G R X.
    // The display, if any, tells where the damage reports' own connection goes.
    [[nodiscard]] static std::unique_ptr<ScreenGrabberX11> create(xcb_connection_t *connection,
                                                                  _XDisplay *display);

    ~ScreenGrabberX11() override;

    [[nodiscard]] SlideImage grab(int index, QScreen *screen) override;
    void releaseScreensFrom(int index) override;
    [[nodiscard]] QString name() const override;

    // Grabs of a screen, counting the one that checks, from one comparison of the whole screen
    // with its last picture to the next.
    static constexpr int grabsPerCheck = 10;

private:
    // The picture last captured of a screen, sharing the pool's buffer, and where it came from.
    struct LastCapture
    {
        cv::Mat frame;
        QRect rect;
        // Handed out since the last full capture or comparison.
        int uncheckedGrabs = 0;
        // Drawn on rect, in root window coordinates, since the screen was last asked about it.
        // Kept per screen: mirrored screens show the same part of the root window.
        QRegion pendingDamage;
    };

    ScreenGrabberX11(xcb_connection_t *connection, uint32_t root, const QRect &rootGeometry,
                     std::unique_ptr<ScreenDamageX11> damage);

    // What was drawn on the screen at rect since it was last asked, in rect's coordinates;
    // nothing when the server does not tell.
    [[nodiscard]] std::optional<QRegion> takeDamageIn(int index, const QRect &rect);
    // The whole screen differs from its last picture where the drawn part does not: unless the
    // server reports drawing there after all, it missed some and is not asked any more.
    void checkDamageReports(int index, const cv::Mat &frame, const QRect &rect,
                            const QRegion &drawn, const QScreen *screen);
    [[nodiscard]] static bool samePixels(const cv::Mat &a, const cv::Mat &b, const QRegion &region);
    [[nodiscard]] std::unique_ptr<cv::Mat> capture(int index, const QRect &rect);
    [[nodiscard]] static SlideImage imageOf(std::unique_ptr<cv::Mat> frame, const QScreen *screen,
                                            bool unchanged);
    [[nodiscard]] bool grabInto(SharedMemorySegmentX11 *segment, const QRect &rect);
    [[nodiscard]] SharedMemorySegmentX11 *segmentFor(int index, size_t size);
    void updateRootGeometry();

    xcb_connection_t *m_connection;
    uint32_t m_root;
    QRect m_rootGeometry;
    std::vector<std::unique_ptr<SharedMemorySegmentX11>> m_segments;
    std::unique_ptr<ScreenDamageX11> m_damage;
    std::vector<LastCapture> m_lastCaptures;
    ScreenFramePool m_frames;
    ScreenGrabberQScreen m_fallback;
    // One warning per run of failed grabs, not one a second.
    bool m_failureReported = false;
};
