#pragma once

#include <cstddef>
#include <cstdint>

// The part of the NDI runtime's C interface that the recorder uses. The runtime is a closed
// library that is bound at run time (see NdiRuntime), never linked, so its records are declared
// here with the runtime's public layout. Only the functions and fields that are used are named.

extern "C" {

// Opaque handles owned by the runtime.
typedef void *NDIlib_find_instance_t;
typedef void *NDIlib_recv_instance_t;

// Records the recorder never fills in: the finder is always created with the runtime's defaults
// (a null settings pointer), and audio and metadata frames are never asked for (null pointers).
// Declaring them incomplete keeps anybody from passing anything but null.
struct NDIlib_find_create_t;
struct NDIlib_audio_frame_v3_t;
struct NDIlib_metadata_frame_t;

enum NDIlib_frame_type_e : int32_t
{
    NDIlib_frame_type_none = 0,
    NDIlib_frame_type_video = 1,
    NDIlib_frame_type_audio = 2,
    NDIlib_frame_type_metadata = 3,
    NDIlib_frame_type_error = 4,
    NDIlib_frame_type_status_change = 100,
};

enum NDIlib_recv_color_format_e : int32_t
{
    // 8-bit R G B A pixels, or R G B X when the stream has no alpha.
    NDIlib_recv_color_format_RGBX_RGBA = 2,
};

enum NDIlib_recv_bandwidth_e : int32_t
{
    NDIlib_recv_bandwidth_highest = 100,
};

enum NDIlib_frame_format_type_e : int32_t
{
    NDIlib_frame_format_type_progressive = 1,
};

constexpr int32_t ndiFourCC(char a, char b, char c, char d)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint8_t>(a)) |
                                (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
                                (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
                                (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24));
}

struct NDIlib_source_t
{
    const char *p_ndi_name = nullptr;
    const char *p_url_address = nullptr;
};

struct NDIlib_recv_create_v3_t
{
    NDIlib_source_t source_to_connect_to;
    NDIlib_recv_color_format_e color_format = NDIlib_recv_color_format_RGBX_RGBA;
    NDIlib_recv_bandwidth_e bandwidth = NDIlib_recv_bandwidth_highest;
    bool allow_video_fields = true;
    const char *p_ndi_recv_name = nullptr;
};

// The defaults are those the runtime's own headers give a fresh record: no picture, no data.
struct NDIlib_video_frame_v2_t
{
    int xres = 0;
    int yres = 0;
    int32_t FourCC = ndiFourCC('U', 'Y', 'V', 'Y');
    int frame_rate_N = 30000;
    int frame_rate_D = 1001;
    float picture_aspect_ratio = 0.0f;
    NDIlib_frame_format_type_e frame_format_type = NDIlib_frame_format_type_progressive;
    int64_t timecode = INT64_MAX;
    uint8_t *p_data = nullptr;
    int line_stride_in_bytes = 0;
    const char *p_metadata = nullptr;
    int64_t timestamp = 0;
};

} // extern "C"

// Signatures of the runtime functions, as the runtime exports them. The audio and metadata frame
// parameters of the capture function are always passed null.
using NDIlib_find_create_v2_fn = NDIlib_find_instance_t (*)(const NDIlib_find_create_t *);
using NDIlib_find_get_current_sources_fn = const NDIlib_source_t *(*)(NDIlib_find_instance_t,
                                                                      uint32_t *);
using NDIlib_recv_create_v3_fn = NDIlib_recv_instance_t (*)(const NDIlib_recv_create_v3_t *);
using NDIlib_recv_connect_fn = void (*)(NDIlib_recv_instance_t, const NDIlib_source_t *);
using NDIlib_recv_capture_v3_fn = NDIlib_frame_type_e (*)(NDIlib_recv_instance_t,
                                                          NDIlib_video_frame_v2_t *,
                                                          NDIlib_audio_frame_v3_t *,
                                                          NDIlib_metadata_frame_t *, uint32_t);
using NDIlib_recv_free_video_v2_fn = void (*)(NDIlib_recv_instance_t,
                                              const NDIlib_video_frame_v2_t *);
using NDIlib_recv_destroy_fn = void (*)(NDIlib_recv_instance_t);

// The runtime is a 64-bit library with a fixed binary layout; a mismatch here would corrupt every
// frame silently.
static_assert(sizeof(void *) != 8 || sizeof(NDIlib_source_t) == 16);
static_assert(sizeof(void *) != 8 || sizeof(NDIlib_recv_create_v3_t) == 40);
static_assert(sizeof(void *) != 8 || offsetof(NDIlib_recv_create_v3_t, color_format) == 16);
static_assert(sizeof(void *) != 8 || offsetof(NDIlib_recv_create_v3_t, allow_video_fields) == 24);
static_assert(sizeof(void *) != 8 || offsetof(NDIlib_recv_create_v3_t, p_ndi_recv_name) == 32);
static_assert(sizeof(void *) != 8 || sizeof(NDIlib_video_frame_v2_t) == 72);
static_assert(sizeof(void *) != 8 || offsetof(NDIlib_video_frame_v2_t, timecode) == 32);
static_assert(sizeof(void *) != 8 || offsetof(NDIlib_video_frame_v2_t, p_data) == 40);
static_assert(sizeof(void *) != 8 || offsetof(NDIlib_video_frame_v2_t, line_stride_in_bytes) == 48);
static_assert(sizeof(void *) != 8 || offsetof(NDIlib_video_frame_v2_t, timestamp) == 64);
