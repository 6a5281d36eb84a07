#pragma once

#include <cstdint>

// What the fake NDI runtime lets the tests look at, besides the runtime functions it exports.
// Behaviour is chosen through environment variables, read when a finder or receiver is created:
//   QUILLORA_FAKE_NDI_SOURCES   number of sources the finder lists (default 2)
//   QUILLORA_FAKE_NDI_DISCOVERY_DELAY_MS  the finder lists nothing until this long after its
//                               creation (default 0)
//   QUILLORA_FAKE_NDI_FAIL      comma list: "find" and/or "recv" make that creation fail
//   QUILLORA_FAKE_NDI_FRAMES    the script of captures, one step per capture call, the last step
//                               repeated for ever: comma list of STEP or STEP*COUNT where STEP is
//                               a colour (red, green, blue, white, black, gray) for a video frame,
//                               "none", "error", "status" (type 100), "empty" (a 0 x 0 video frame)
//                               or "nodata" (a video frame without pixel buffer); default "red"
//   QUILLORA_FAKE_NDI_SIZE      frame size WxH (default 1920x1080)
//   QUILLORA_FAKE_NDI_PADDING   extra bytes at the end of every row, filled with 0xAB (default 0)
//   QUILLORA_FAKE_NDI_OUTAGE    FROM_MS,LENGTH_MS: the sender sends nothing for that long, from
//                               that moment after the first receiver made with this value; the
//                               script does not advance meanwhile
extern "C" {

struct QuilloraFakeNdiState
{
    int32_t finders;
    int32_t liveReceivers;
    int32_t receiversCreated;
    // Frames handed out and not yet given back with NDIlib_recv_free_video_v2.
    int32_t liveFrames;
    // Frees of records the fake never handed out, or handed back twice.
    int32_t badFrees;
    int32_t captureCalls;
    // Captures with audio or metadata records, or with a non-zero timeout.
    int32_t unexpectedCaptureArguments;
    int32_t lastColorFormat;
    int32_t lastBandwidth;
    bool lastAllowVideoFields;
    bool lastCreateHadSource;
    char lastConnectedName[256];
    char lastConnectedUrl[256];
};

typedef void (*QuilloraFakeNdiStateFunction)(QuilloraFakeNdiState *);
}
