// Records a still screen headless for a while (60 s unless a number of seconds is given) and
// prints the recorder process's CPU time and peak memory. Run it by hand on a display with a
// sound server, as ./scripts/test provides:
//   ./scripts/test -- -R none; then, with DISPLAY and PULSE_SERVER set,
//   build-test/tests/bench_headlessrecording [SECONDS] [AUDIO INPUT ID]
#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const int seconds = arguments.size() > 1 ? arguments.at(1).toInt() : 60;
    const QString audioInput = arguments.size() > 2
                                   ? arguments.at(2)
                                   : qEnvironmentVariable("QUILLORA_TEST_SINE_SOURCE", "sine");

    QTemporaryDir root;
    QProcess::execute("xsetroot", {"-solid", "#305070"});
    QProcess recorder;
    recorder.setProcessEnvironment(TestEnvironment::childEnvironment(root.filePath("config")));
    recorder.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    recorder.setStandardErrorFile(root.filePath("stderr.log"));
    QElapsedTimer wall;
    wall.start();
    recorder.start(TestEnvironment::binaryPath("QuilloraRecorder"),
                   {"--record", "--duration", QString::number(seconds), "--data-dir",
                    root.filePath("data"), "--audio-input", audioInput});
    if (!recorder.waitForFinished((seconds + 60) * 1000)) {
        std::fprintf(stderr, "the recorder did not finish\n");
        return 1;
    }

    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::printf("recording of %d s: exit %d, wall %.1f s, CPU %.2f s (user %.2f s, system "
                "%.2f s), %.1f %% of one core, peak memory %.1f MiB\n",
                seconds, recorder.exitCode(), wall.elapsed() / 1000.0, cpu,
                usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6,
                usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6,
                100.0 * cpu / (wall.elapsed() / 1000.0), usage.ru_maxrss / 1024.0);
    return recorder.exitCode();
}
