// The launcher on Linux: the recorder's directory goes in front of the program and library search
// paths, the Qt Quick rendering variables are set, and the recorder is started from the current
// directory without waiting for it.
#include "SearchPath.h"

#include <spawn.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

extern char **environ;

namespace {

void prependToSearchPath(const char *variable)
{
    const char *previous = std::getenv(variable);
    const std::string value = prependSearchPath("./app", ':', previous ? previous : "");
    setenv(variable, value.c_str(), 1);
}

// Keeps the message readable in a terminal window that closes when the launcher ends. Without a
// terminal nobody could press a key, so the launcher must not wait.
void waitForKeyPress()
{
    if (!isatty(STDIN_FILENO))
        return;
    termios saved{};
    if (tcgetattr(STDIN_FILENO, &saved) != 0)
        return;
    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0)
        return;
    char key = 0;
    while (read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
    }
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

} // namespace

int main()
{
    std::puts("Updating PATH variable...");
    prependToSearchPath("PATH");
    prependToSearchPath("LD_LIBRARY_PATH");
    std::puts("Updating QSG_RHI_BACKEND variable...");
    setenv("QSG_RHI_BACKEND", "software", 1);
    std::puts("Updating QT_QUICK_BACKEND variable...");
    setenv("QT_QUICK_BACKEND", "rhi", 1);
    // The recorder shares standard output: our lines come first.
    std::fflush(stdout);

    // Relative to the current directory, as a shortcut or the desktop entry sets it.
    char program[] = "App/QuilloraRecorder";
    char *arguments[] = {program, nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, program, nullptr, nullptr, arguments, environ) == 0)
        return 0;

    std::puts("Cannot start App/QuilloraRecorder. Does it exist?");
    std::fflush(stdout);
    waitForKeyPress();
    return 1;
}
