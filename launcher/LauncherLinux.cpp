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
#include <memory>
#include <string>

extern char **environ;

namespace {

// Relative to the current directory, as a shortcut or the desktop entry sets it.
constexpr char appDirectoryName[] = "App";
// What the shells search when PATH is unset or empty: the recorder and the programs it starts
// still find the system's tools behind its own directory.
constexpr char defaultPath[] = "/usr/local/bin:/usr/bin:/bin";

// The recorder's directory as an absolute path: a relative entry would be looked up again in
// the working directory of every program the recorder starts.
std::string appDirectory()
{
    const std::unique_ptr<char, decltype(&std::free)> workingDirectory(getcwd(nullptr, 0),
                                                                       &std::free);
    // Without a working directory the recorder cannot be started from it either.
    if (!workingDirectory)
        return appDirectoryName;
    std::string directory(workingDirectory.get());
    if (directory.empty() || directory.back() != '/')
        directory += '/';
    return directory + appDirectoryName;
}

void prependToSearchPath(const char *variable, const std::string &directory,
                         const char *fallback = "")
{
    const char *previous = std::getenv(variable);
    const std::string value =
        prependSearchPath(directory, ':', previous && *previous ? previous : fallback);
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
    const std::string directory = appDirectory();
    prependToSearchPath("PATH", directory, defaultPath);
    prependToSearchPath("LD_LIBRARY_PATH", directory);
    std::puts("Updating QSG_RHI_BACKEND variable...");
    setenv("QSG_RHI_BACKEND", "software", 1);
    std::puts("Updating QT_QUICK_BACKEND variable...");
    setenv("QT_QUICK_BACKEND", "rhi", 1);
    // The recorder shares standard output: our lines come first.
    std::fflush(stdout);

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
