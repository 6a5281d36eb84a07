// Records headless for a while (60 s unless a number of seconds is given) on X servers of its own
// and prints, for each scenario, the recorder process's CPU time as a share of one core and its
// peak resident memory:
//   still-1080p     a still 1920x1080 screen
//   still-4k        a still 3840x2160 screen
//   changing-1080p  a 1920x1080 screen whose picture changes every second
// Run it by hand with a sound server, as ./scripts/test provides:
//   ./scripts/test -- -R none; then, with PULSE_SERVER set,
//   build-test/tests/bench_headlessrecording [SECONDS [AUDIO INPUT ID [SCENARIO...]]]
// QUILLORA_SCREEN_GRABBER=qscreen in the environment measures Qt's generic screen grab,
// QUILLORA_BENCH_PROGRAM=PATH another build of the recorder.
#include "MeasuredProcess.h"
#include "TestEnvironment.h"
#include "VirtualScreen.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

struct Scenario
{
    QString name;
    int width;
    int height;
    bool changing;
};

const QList<Scenario> scenarios{{"still-1080p", 1920, 1080, false},
                                {"still-4k", 3840, 2160, false},
                                {"changing-1080p", 1920, 1080, true}};

// Busy patterns for the changing screen: blocks and lines like text and figures, so that the
// comparison and the PNG encoder get real work. The root window tiles the bitmap.
QStringList makePatterns(const QString &dir, int count)
{
    QStringList files;
    QRandomGenerator random(20261209);
    for (int i = 0; i < count; ++i) {
        QImage pattern(640, 360, QImage::Format_Mono);
        pattern.fill(0);
        QPainter painter(&pattern);
        painter.setPen(Qt::color1);
        painter.setBrush(Qt::color1);
        for (int line = 0; line < 24; ++line) {
            int x = 20;
            const int y = 12 + line * 14;
            while (x < 600) {
                const int word = 8 + int(random.bounded(40));
                painter.drawRect(x, y, word, 7);
                x += word + 6;
            }
        }
        painter.end();
        const QString file = QDir(dir).filePath(QStringLiteral("pattern%1.xbm").arg(i));
        pattern.save(file, "XBM");
        files.append(file);
    }
    return files;
}

// QUILLORA_BENCH_PROGRAM measures another build of the recorder.
QString program()
{
    return qEnvironmentVariable("QUILLORA_BENCH_PROGRAM",
                                TestEnvironment::binaryPath(QStringLiteral("QuilloraRecorder")));
}

int countSlides(const QString &dataDir)
{
    int count = 0;
    QDirIterator it(dataDir, {QStringLiteral("*.png")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++count;
    }
    return count;
}

QString grabberOf(const QString &stderrFile)
{
    QFile file(stderrFile);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    const QRegularExpression grabbing(QStringLiteral("grabbing with (.*)$"),
                                      QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = grabbing.match(QString::fromUtf8(file.readAll()));
    return match.hasMatch() ? match.captured(1).trimmed() : QStringLiteral("?");
}

int runScenario(const Scenario &scenario, int seconds, const QString &audioInput)
{
    QTemporaryDir root;
    VirtualScreen screen;
    if (!screen.start(scenario.width, scenario.height)) {
        std::fprintf(stderr, "%s: Xvfb did not start\n", qPrintable(scenario.name));
        return 1;
    }
    screen.run(QStringLiteral("xsetroot"), {"-solid", "#305070"});
    const QStringList patterns = scenario.changing ? makePatterns(root.path(), 8) : QStringList();
    QTimer changer;
    int next = 0;
    QObject::connect(&changer, &QTimer::timeout, &changer, [&] {
        const QStringList colours{"#305070", "#703050", "#507030", "#205080"};
        screen.run(QStringLiteral("xsetroot"),
                   {"-bitmap", patterns.at(next % patterns.size()), "-fg",
                    colours.at(next % colours.size()), "-bg", "white"});
        ++next;
    });

    const QString stderrFile = root.filePath(QStringLiteral("stderr.log"));
    const QString dataDir = root.filePath(QStringLiteral("data"));
    QProcessEnvironment environment =
        screen.environment(TestEnvironment::childEnvironment(root.filePath("config")));
    const QString loadBefore = MeasuredProcess::loadAverage();
    MeasuredProcess recorder;
    if (!recorder.start(program(),
                        {"--record", "--duration", QString::number(seconds), "--data-dir", dataDir,
                         "--audio-input", audioInput},
                        environment, stderrFile)) {
        std::fprintf(stderr, "%s: the recorder did not start\n", qPrintable(scenario.name));
        return 1;
    }
    if (scenario.changing)
        changer.start(1000);
    if (!recorder.waitForFinished((seconds + 60) * 1000)) {
        std::fprintf(stderr, "%s: the recorder did not finish\n", qPrintable(scenario.name));
        recorder.terminate();
        return 1;
    }
    changer.stop();
    std::printf("%-15s %d s: exit %d, wall %.1f s, CPU %.2f s (user %.2f s, system %.2f s), "
                "%.2f %% of one core, peak RSS %.1f MiB; %d slide files; grabbing with %s; "
                "load average %s -> %s\n",
                qPrintable(scenario.name), seconds, recorder.exitCode(), recorder.wallSeconds(),
                recorder.cpuSeconds(), recorder.userSeconds(), recorder.systemSeconds(),
                recorder.cpuPercent(), recorder.peakMiB(), countSlides(dataDir),
                qPrintable(grabberOf(stderrFile)), qPrintable(loadBefore),
                qPrintable(MeasuredProcess::loadAverage()));
    std::fflush(stdout);
    if (recorder.exitCode() != 0) {
        QFile log(stderrFile);
        if (log.open(QIODevice::ReadOnly))
            std::fprintf(stderr, "%s", log.readAll().right(2000).constData());
    }
    return recorder.exitCode();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const int seconds = arguments.size() > 1 ? arguments.at(1).toInt() : 60;
    const QString audioInput = arguments.size() > 2
                                   ? arguments.at(2)
                                   : qEnvironmentVariable("QUILLORA_TEST_SINE_SOURCE", "sine");
    const QStringList wanted = arguments.mid(3);

    int status = 0;
    for (const Scenario &scenario : scenarios) {
        if (wanted.isEmpty() || wanted.contains(scenario.name))
            status |= runScenario(scenario, seconds, audioInput);
    }
    return status;
}
