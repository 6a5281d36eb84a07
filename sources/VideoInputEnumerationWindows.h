#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

// The capture devices of DirectShow's video input category, without Qt. The devices come through
// two small interfaces so that the naming and numbering rules below are plain code that can be
// checked without COM; this header therefore includes nothing of Windows.
namespace VideoInputEnumerationWindows {

struct VideoInput
{
    std::wstring name;
    // The device path, which stays the same across runs; the name when the device has none.
    std::wstring id;
    // The number under which the video capture back end opens the device.
    int index = -1;
};

enum class Problem
{
    CannotEnumerate,
    CannotBindToStorage,
    NoDeviceName,
};

struct Result
{
    std::vector<VideoInput> inputs;
    // In the order they occurred.
    std::vector<Problem> problems;
};

// One device as the system enumerator hands it out.
class Device
{
public:
    virtual ~Device() = default;
    // Opens the device's property bag; false when it cannot be opened.
    virtual bool bindProperties() = 0;
    // A string property of the bound bag; empty when it is absent or not a string.
    virtual std::optional<std::wstring> property(const wchar_t *name) = 0;
};

class DeviceEnumerator
{
public:
    virtual ~DeviceEnumerator() = default;
    // False when the category cannot be enumerated or holds no device.
    virtual bool open() = 0;
    // The next device in enumeration order, null after the last.
    virtual std::unique_ptr<Device> next() = 0;
};

// A device is listed under its friendly name, else its description, and skipped when it has
// neither. Only listed devices are numbered, so the numbers follow the back end's own count.
inline Result listVideoInputs(DeviceEnumerator &enumerator)
{
    Result result;
    if (!enumerator.open()) {
        result.problems.push_back(Problem::CannotEnumerate);
        return result;
    }
    int index = -1;
    while (std::unique_ptr<Device> device = enumerator.next()) {
        if (!device->bindProperties()) {
            result.problems.push_back(Problem::CannotBindToStorage);
            continue;
        }
        std::optional<std::wstring> name = device->property(L"FriendlyName");
        if (!name)
            name = device->property(L"Description");
        if (!name) {
            result.problems.push_back(Problem::NoDeviceName);
            continue;
        }
        std::optional<std::wstring> path = device->property(L"DevicePath");
        ++index;
        result.inputs.push_back(VideoInput{*name, path ? std::move(*path) : *name, index});
    }
    return result;
}

// The devices present now, through COM's system device enumerator. Initialises COM for the
// calling thread for the duration of the call; an empty result without problems when that fails.
Result enumerateVideoInputs();

} // namespace VideoInputEnumerationWindows
