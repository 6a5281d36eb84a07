#pragma once

#include "ScreenFramePool.h"
#include "ScreenGrabber.h"
#include "ScreenGrabberQScreen.h"

#include <QRect>

#include <cstdint>
#include <memory>
#include <vector>

class SharedMemorySegmentX11;
struct xcb_connection_t;

// Grabs screens through the X shared-memory extension on Qt's own connection: the server copies
// the screen's region of the root window into a segment kept per screen, and one pass turns its
// B G R X pixels into the B G R matrix the pipeline uses, in a buffer that is reused once the
// pipeline has let go of it. The image is the same pixels, not a copy. A grab the server refuses
// (a screen that just changed) goes through Qt's generic grab instead.
class ScreenGrabberX11 : public ScreenGrabber
{
    Q_OBJECT

public:
    // Null when the display has no shared-memory extension, cannot share memory with this process,
    // has more than one X screen or keeps its pixels in another layout than 32-bit B G R X.
    [[nodiscard]] static std::unique_ptr<ScreenGrabberX11> create(xcb_connection_t *connection);

    ~ScreenGrabberX11() override;

    [[nodiscard]] SlideImage grab(int index, QScreen *screen) override;
    void releaseScreensFrom(int index) override;
    [[nodiscard]] QString name() const override;

private:
    ScreenGrabberX11(xcb_connection_t *connection, uint32_t root, const QRect &rootGeometry);

    [[nodiscard]] bool grabInto(SharedMemorySegmentX11 *segment, const QRect &rect);
    [[nodiscard]] SharedMemorySegmentX11 *segmentFor(int index, size_t size);
    void updateRootGeometry();

    xcb_connection_t *m_connection;
    uint32_t m_root;
    QRect m_rootGeometry;
    std::vector<std::unique_ptr<SharedMemorySegmentX11>> m_segments;
    ScreenFramePool m_frames;
    ScreenGrabberQScreen m_fallback;
    // One warning per run of failed grabs, not one a second.
    bool m_failureReported = false;
};
