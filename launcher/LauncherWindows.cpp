// The launcher on Windows: the recorder's directory goes in front of PATH, where Windows looks for
// the recorder's DLLs, the Qt Quick rendering variables are set, and the recorder is started from
// the current directory without waiting for it.
#include "SearchPath.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <conio.h>

#include <cstdio>
#include <string>

namespace {

// The whole value, however long; an unset variable reads as empty.
std::string environmentVariable(const char *name)
{
    std::string value;
    DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
    while (size > 0) {
        value.resize(size);
        const DWORD length = GetEnvironmentVariableA(name, value.data(), size);
        if (length < size) {
            value.resize(length);
            return value;
        }
        // The variable grew between the two calls: length is the size it needs now.
        size = length;
    }
    return {};
}

// Keeps the message readable in a console window that closes when the launcher ends. Without a
// console nobody could press a key, so the launcher must not wait.
void waitForKeyPress()
{
    DWORD mode = 0;
    if (GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode))
        _getch();
}

} // namespace

int main()
{
    std::printf("Updating PATH variable...\n");
    const std::string path = prependSearchPath("./app", ';', environmentVariable("PATH"));
    SetEnvironmentVariableA("PATH", path.c_str());
    std::printf("Updating QSG_RHI_BACKEND variable...\n");
    SetEnvironmentVariableA("QSG_RHI_BACKEND", "software");
    std::printf("Updating QT_QUICK_BACKEND variable...\n");
    SetEnvironmentVariableA("QT_QUICK_BACKEND", "rhi");
    // The recorder shares the console: our lines come first.
    std::fflush(stdout);

    STARTUPINFOA startupInfo{};
    startupInfo.cb = sizeof(startupInfo);
    PROCESS_INFORMATION processInformation{};
    // Relative to the current directory, as a shortcut sets it.
    if (CreateProcessA("App\\QuilloraRecorder.exe", nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startupInfo, &processInformation)) {
        CloseHandle(processInformation.hProcess);
        CloseHandle(processInformation.hThread);
        return 0;
    }

    std::printf("Cannot start app\\QuilloraRecorder.exe. Does it exist?\n");
    std::fflush(stdout);
    waitForKeyPress();
    return 1;
}
