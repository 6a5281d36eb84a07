// Runs the recorder's window on its main screen, where the preview of the screen capture pulls a
// picture ten times a second, on a 1920x1080 X server of its own for a while (60 s unless a
// number of seconds is given), and prints the recorder process's CPU time as a share of one core
// (over the whole run, and after the first 10 s of start-up) and its peak resident memory.
// Run it by hand with a sound server, as ./scripts/test provides:
//   ./scripts/test -- -R none; then, with PULSE_SERVER set,
//   build-test/tests/bench_mainscreen [SECONDS]
// QUILLORA_SCREEN_GRABBER=qscreen in the environment measures Qt's generic screen grab,
// QUILLORA_BENCH_PROGRAM=PATH another build of the recorder.
#include "MeasuredProcess.h"
#include "TestEnvironment.h"
#include "VirtualScreen.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int warmUpSeconds = 10;

void runEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The window logs to its log file, not to the console.
QString logText(const QString &dataDir)
{
    QString text;
    QDirIterator it(dataDir, {QStringLiteral("*.log")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromUtf8(file.readAll());
    }
    return text;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const int seconds =
        std::max(warmUpSeconds + 5, arguments.size() > 1 ? arguments.at(1).toInt() : 60);

    QTemporaryDir root;
    VirtualScreen screen;
    if (!screen.start(1920, 1080)) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    screen.run(QStringLiteral("xsetroot"), {"-solid", "#305070"});
    const QString dataDir = root.filePath(QStringLiteral("data"));
    const QString program = qEnvironmentVariable(
        "QUILLORA_BENCH_PROGRAM", TestEnvironment::binaryPath(QStringLiteral("QuilloraRecorder")));

    const QString loadBefore = MeasuredProcess::loadAverage();
    MeasuredProcess recorder;
    if (!recorder.start(
            program, {"--data-dir", dataDir},
            screen.environment(TestEnvironment::childEnvironment(root.filePath("config"))),
            root.filePath(QStringLiteral("stderr.log")))) {
        std::fprintf(stderr, "the recorder did not start\n");
        return 1;
    }
    QElapsedTimer wall;
    wall.start();
    runEventLoop(warmUpSeconds * 1000);
    const double cpuAfterWarmUp = recorder.cpuSecondsSoFar();
    const qint64 warmUpEnd = wall.elapsed();
    runEventLoop(seconds * 1000 - int(warmUpEnd));
    const double cpuAtEnd = recorder.cpuSecondsSoFar();
    const qint64 steadyMs = wall.elapsed() - warmUpEnd;
    recorder.terminate();
    if (!recorder.waitForFinished(60000)) {
        std::fprintf(stderr, "the recorder did not quit\n");
        return 1;
    }
    const QString log = logText(dataDir);
    const bool previewRan = log.contains(QLatin1String("grabbing with"));
    const QString grabber =
        previewRan ? log.section(QLatin1String("grabbing with "), 1, 1).section('\n', 0, 0)
                   : QStringLiteral("? (no log line of the screen capture)");
    std::printf("main screen with preview %d s: exit %d, wall %.1f s, CPU %.2f s (user %.2f s, "
                "system %.2f s), %.2f %% of one core, after %d s start-up %.2f %%; peak RSS %.1f "
                "MiB; grabbing with %s; load average %s -> %s\n",
                seconds, recorder.exitCode(), recorder.wallSeconds(), recorder.cpuSeconds(),
                recorder.userSeconds(), recorder.systemSeconds(), recorder.cpuPercent(),
                warmUpSeconds, 100.0 * (cpuAtEnd - cpuAfterWarmUp) / (double(steadyMs) / 1000.0),
                recorder.peakMiB(), qPrintable(grabber), qPrintable(loadBefore),
                qPrintable(MeasuredProcess::loadAverage()));
    return recorder.exitCode();
}
