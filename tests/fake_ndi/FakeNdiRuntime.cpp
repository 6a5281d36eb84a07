// A fake NDI runtime: the seven functions the recorder binds, with the runtime's records, serving
// a scripted sequence of frames instead of network streams. See FakeNdiControl.h for the knobs.

#include "FakeNdiControl.h"
#include "NdiApi.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#define FAKE_NDI_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Step
{
    enum Kind
    {
        Video,
        None,
        Error,
        Status,
        Empty,
        NoData,
    };
    Kind kind = Video;
    uint8_t rgb[3] = {0, 0, 0};
};

struct Finder
{
    std::chrono::steady_clock::time_point created = std::chrono::steady_clock::now();
    std::vector<std::string> names;
    std::vector<std::string> urls;
    std::vector<NDIlib_source_t> sources;
};

struct Receiver
{
    std::vector<Step> steps;
    size_t position = 0;
    int width = 1920;
    int height = 1080;
    int padding = 0;
    bool connected = false;
};

std::mutex stateMutex;
QuilloraFakeNdiState state{};
std::set<const uint8_t *> framesOut;

// The sender's own clock for QUILLORA_FAKE_NDI_OUTAGE: it starts with the first receiver made
// after the variable was given a new value, and goes on across receivers, as a sender on the
// network does whoever connects to it.
struct Outage
{
    std::string setting;
    std::chrono::steady_clock::time_point start;
    long fromMs = -1;
    long lengthMs = 0;
};
Outage outage;

std::string environment(const char *name, const char *fallback)
{
    const char *value = std::getenv(name);
    return value ? std::string(value) : std::string(fallback);
}

bool failureRequested(const char *what)
{
    const std::string fail = environment("QUILLORA_FAKE_NDI_FAIL", "");
    return fail.find(what) != std::string::npos;
}

std::vector<std::string> split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = text.find(separator, start);
        const size_t stop = end == std::string::npos ? text.size() : end;
        if (stop > start)
            parts.push_back(text.substr(start, stop - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return parts;
}

bool parseStep(const std::string &word, Step *step)
{
    struct Named
    {
        const char *name;
        Step::Kind kind;
        uint8_t r, g, b;
    };
    static const Named named[] = {
        {"red", Step::Video, 220, 30, 30},  {"green", Step::Video, 30, 200, 60},
        {"blue", Step::Video, 40, 60, 230}, {"white", Step::Video, 255, 255, 255},
        {"black", Step::Video, 0, 0, 0},    {"gray", Step::Video, 128, 128, 128},
        {"none", Step::None, 0, 0, 0},      {"error", Step::Error, 0, 0, 0},
        {"status", Step::Status, 0, 0, 0},  {"empty", Step::Empty, 0, 0, 0},
        {"nodata", Step::NoData, 0, 0, 0},
    };
    for (const Named &entry : named) {
        if (word == entry.name) {
            step->kind = entry.kind;
            step->rgb[0] = entry.r;
            step->rgb[1] = entry.g;
            step->rgb[2] = entry.b;
            return true;
        }
    }
    return false;
}

std::vector<Step> parseScript(const std::string &script)
{
    std::vector<Step> steps;
    for (const std::string &item : split(script, ',')) {
        const size_t star = item.find('*');
        const std::string word = item.substr(0, star);
        const int count = star == std::string::npos ? 1 : std::atoi(item.c_str() + star + 1);
        Step step;
        if (!parseStep(word, &step))
            continue;
        for (int i = 0; i < count; ++i)
            steps.push_back(step);
    }
    if (steps.empty()) {
        Step red;
        parseStep("red", &red);
        steps.push_back(red);
    }
    return steps;
}

void copyText(char *target, size_t size, const char *text)
{
    std::strncpy(target, text ? text : "", size - 1);
    target[size - 1] = '\0';
}

} // namespace

FAKE_NDI_EXPORT NDIlib_find_instance_t NDIlib_find_create_v2(const NDIlib_find_create_t *)
{
    if (failureRequested("find"))
        return nullptr;
    std::lock_guard lock(stateMutex);
    ++state.finders;
    return new Finder;
}

FAKE_NDI_EXPORT const NDIlib_source_t *
NDIlib_find_get_current_sources(NDIlib_find_instance_t handle, uint32_t *count)
{
    auto *finder = static_cast<Finder *>(handle);
    // Real finders discover the network's streams over seconds.
    const auto delay = std::chrono::milliseconds(
        std::atoi(environment("QUILLORA_FAKE_NDI_DISCOVERY_DELAY_MS", "0").c_str()));
    const bool discovered = std::chrono::steady_clock::now() - finder->created >= delay;
    const int wanted =
        discovered ? std::atoi(environment("QUILLORA_FAKE_NDI_SOURCES", "2").c_str()) : 0;
    finder->names.clear();
    finder->urls.clear();
    finder->sources.clear();
    for (int i = 0; i < wanted; ++i) {
        // The second name is not plain ASCII, as stream names on real networks often are not.
        finder->names.push_back(i == 1 ? "FAKE-HOST (Pr\xc3\xa4sentation)"
                                       : "FAKE-HOST (Slides " + std::to_string(i + 1) + ")");
        finder->urls.push_back("127.0.0.1:" + std::to_string(5961 + i));
    }
    for (size_t i = 0; i < finder->names.size(); ++i)
        finder->sources.push_back({finder->names[i].c_str(), finder->urls[i].c_str()});
    if (count)
        *count = static_cast<uint32_t>(finder->sources.size());
    return finder->sources.empty() ? nullptr : finder->sources.data();
}

FAKE_NDI_EXPORT NDIlib_recv_instance_t
NDIlib_recv_create_v3(const NDIlib_recv_create_v3_t *settings)
{
    std::lock_guard lock(stateMutex);
    if (settings) {
        state.lastColorFormat = settings->color_format;
        state.lastBandwidth = settings->bandwidth;
        state.lastAllowVideoFields = settings->allow_video_fields;
        state.lastCreateHadSource = settings->source_to_connect_to.p_ndi_name ||
                                    settings->source_to_connect_to.p_url_address;
    }
    // The fake serves only the pixel format the recorder asks for.
    if (failureRequested("recv") || !settings ||
        settings->color_format != NDIlib_recv_color_format_RGBX_RGBA)
        return nullptr;
    auto *receiver = new Receiver;
    receiver->steps = parseScript(environment("QUILLORA_FAKE_NDI_FRAMES", "red"));
    const std::string size = environment("QUILLORA_FAKE_NDI_SIZE", "1920x1080");
    const size_t x = size.find('x');
    if (x != std::string::npos) {
        receiver->width = std::atoi(size.c_str());
        receiver->height = std::atoi(size.c_str() + x + 1);
    }
    receiver->padding = std::atoi(environment("QUILLORA_FAKE_NDI_PADDING", "0").c_str());
    const std::string outageSetting = environment("QUILLORA_FAKE_NDI_OUTAGE", "");
    if (outageSetting != outage.setting) {
        outage.setting = outageSetting;
        outage.start = std::chrono::steady_clock::now();
        const size_t comma = outageSetting.find(',');
        outage.fromMs = comma == std::string::npos ? -1 : std::atol(outageSetting.c_str());
        outage.lengthMs =
            comma == std::string::npos ? 0 : std::atol(outageSetting.c_str() + comma + 1);
    }
    ++state.liveReceivers;
    ++state.receiversCreated;
    return receiver;
}

FAKE_NDI_EXPORT void NDIlib_recv_connect(NDIlib_recv_instance_t handle,
                                         const NDIlib_source_t *source)
{
    auto *receiver = static_cast<Receiver *>(handle);
    std::lock_guard lock(stateMutex);
    receiver->connected = source != nullptr;
    copyText(state.lastConnectedName, sizeof state.lastConnectedName,
             source ? source->p_ndi_name : nullptr);
    copyText(state.lastConnectedUrl, sizeof state.lastConnectedUrl,
             source ? source->p_url_address : nullptr);
}

FAKE_NDI_EXPORT NDIlib_frame_type_e NDIlib_recv_capture_v3(NDIlib_recv_instance_t handle,
                                                           NDIlib_video_frame_v2_t *video,
                                                           NDIlib_audio_frame_v3_t *audio,
                                                           NDIlib_metadata_frame_t *metadata,
                                                           uint32_t timeoutMs)
{
    auto *receiver = static_cast<Receiver *>(handle);
    std::lock_guard lock(stateMutex);
    ++state.captureCalls;
    if (audio || metadata || timeoutMs != 0)
        ++state.unexpectedCaptureArguments;
    if (!receiver->connected || !video)
        return NDIlib_frame_type_none;
    if (outage.fromMs >= 0) {
        const long sinceStart = long(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - outage.start)
                                         .count());
        if (sinceStart >= outage.fromMs && sinceStart < outage.fromMs + outage.lengthMs)
            return NDIlib_frame_type_none;
    }
    const Step step = receiver->steps[receiver->position];
    if (receiver->position + 1 < receiver->steps.size())
        ++receiver->position;
    switch (step.kind) {
    case Step::None:
        return NDIlib_frame_type_none;
    case Step::Error:
        return NDIlib_frame_type_error;
    case Step::Status:
        return NDIlib_frame_type_status_change;
    case Step::Empty:
    case Step::NoData:
    case Step::Video:
        break;
    }
    *video = NDIlib_video_frame_v2_t();
    video->FourCC = ndiFourCC('R', 'G', 'B', 'A');
    if (step.kind == Step::Empty)
        return NDIlib_frame_type_video;
    video->xres = receiver->width;
    video->yres = receiver->height;
    if (step.kind == Step::NoData)
        return NDIlib_frame_type_video;
    const int stride = receiver->width * 4 + receiver->padding;
    auto *pixels = static_cast<uint8_t *>(
        std::malloc(static_cast<size_t>(stride) * static_cast<size_t>(receiver->height)));
    for (int y = 0; y < receiver->height; ++y) {
        uint8_t *row = pixels + static_cast<size_t>(y) * static_cast<size_t>(stride);
        for (int x = 0; x < receiver->width; ++x) {
            row[x * 4 + 0] = step.rgb[0];
            row[x * 4 + 1] = step.rgb[1];
            row[x * 4 + 2] = step.rgb[2];
            row[x * 4 + 3] = 255;
        }
        std::memset(row + receiver->width * 4, 0xAB, static_cast<size_t>(receiver->padding));
    }
    video->p_data = pixels;
    video->line_stride_in_bytes = stride;
    framesOut.insert(pixels);
    ++state.liveFrames;
    return NDIlib_frame_type_video;
}

FAKE_NDI_EXPORT void NDIlib_recv_free_video_v2(NDIlib_recv_instance_t,
                                               const NDIlib_video_frame_v2_t *video)
{
    std::lock_guard lock(stateMutex);
    if (!video || !video->p_data)
        return;
    if (framesOut.erase(video->p_data) == 0) {
        ++state.badFrees;
        return;
    }
    std::free(video->p_data);
    --state.liveFrames;
}

FAKE_NDI_EXPORT void NDIlib_recv_destroy(NDIlib_recv_instance_t handle)
{
    std::lock_guard lock(stateMutex);
    if (!handle)
        return;
    delete static_cast<Receiver *>(handle);
    --state.liveReceivers;
}

FAKE_NDI_EXPORT void quillora_fake_ndi_state(QuilloraFakeNdiState *target)
{
    std::lock_guard lock(stateMutex);
    *target = state;
}

// The fake must be callable through the recorder's own declarations of the runtime.
static_assert(std::is_same_v<decltype(&NDIlib_find_create_v2), NDIlib_find_create_v2_fn>);
static_assert(
    std::is_same_v<decltype(&NDIlib_find_get_current_sources), NDIlib_find_get_current_sources_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_recv_create_v3), NDIlib_recv_create_v3_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_recv_connect), NDIlib_recv_connect_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_recv_capture_v3), NDIlib_recv_capture_v3_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_recv_free_video_v2), NDIlib_recv_free_video_v2_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_recv_destroy), NDIlib_recv_destroy_fn>);
static_assert(std::is_same_v<decltype(&quillora_fake_ndi_state), QuilloraFakeNdiStateFunction>);
