#include "BeepFeeder.h"
#include "ClickFeeder.h"
#include "ExportTestPresentation.h"
#include "FakeS3Server.h"
#include "FakeWebService.h"
#include "NdiFakeRuntime.h"
#include "PresentationTestDirs.h"
#include "ProgramRun.h"
#include "PulseModule.h"
#include "TestEnvironment.h"
#include "WavAnalysis.h"
#include "X11Pointer.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QImage>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

QStringList nonEmptyLines(const QString &path)
{
    if (path.isEmpty())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

void setRootColor(const QString &color)
{
    QProcess::execute("xsetroot", {"-solid", color});
}

QString logFileOf(const QString &dataDir)
{
    const QStringList logs = QDir(dataDir + "/Logs").entryList({"*.log"}, QDir::Files);
    return logs.size() == 1 ? dataDir + "/Logs/" + logs.first() : QString();
}

// The local time of the first log line that contains text, or an invalid time.
QDateTime loggedAt(const QString &logFile, const QString &text)
{
    for (const QString &line : nonEmptyLines(logFile)) {
        if (line.contains(text))
            return QDateTime::fromString(line.left(23), Qt::ISODateWithMs);
    }
    return {};
}

// Log lines at warning level or above that match pattern.
QStringList warningsIn(const QString &logFile, const QRegularExpression &pattern)
{
    QStringList warnings;
    for (const QString &line : nonEmptyLines(logFile)) {
        if (pattern.match(line).hasMatch())
            warnings.append(line);
    }
    return warnings;
}

// Warnings of the libraries underneath (ours all begin with "[Component]"): each is a fault, such
// as a read from a write-only file.
QStringList untaggedWarnings(const QString &logFile)
{
    static const QRegularExpression untagged(QStringLiteral("^\\S+ \\[[WC]\\] (?!\\[)"));
    return warningsIn(logFile, untagged);
}

// Every warning of the log, ours included.
QStringList allWarnings(const QString &logFile)
{
    static const QRegularExpression warning(QStringLiteral("^\\S+ \\[[WC]\\] "));
    return warningsIn(logFile, warning);
}

// Where in the second the clicks fall, in milliseconds: a click a second from one clock keeps its
// phase wherever the file puts it on the same clock.
qint64 phaseDistance(qint64 a, qint64 b)
{
    const qint64 difference = ((a - b) % 1000 + 1000) % 1000;
    return qMin(difference, 1000 - difference);
}

// Slide times of timestamps_ms.txt, in slide order.
QList<qint64> slideTimes(const QString &dir)
{
    QList<qint64> times;
    for (const QString &line : nonEmptyLines(dir + "/timestamps_ms.txt"))
        times.append(line.section(' ', 1, 1).toLongLong());
    return times;
}

QString lastLine(const QString &text)
{
    const QStringList lines = text.split('\n', Qt::SkipEmptyParts);
    return lines.isEmpty() ? QString() : lines.last();
}

// A value of the settings store the child process wrote under configHome.
QVariant storedSetting(const QString &configHome, const QString &key)
{
    QDirIterator files(configHome, {"*.conf"}, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QSettings settings(files.next(), QSettings::IniFormat);
        if (settings.contains(key))
            return settings.value(key);
    }
    return {};
}

// Every slide the recorder kept is whole: each timestamps line has its PNG, and each PNG under its
// final name decodes.
void verifySlidesIntact(const QString &dir)
{
    const QStringList lines = nonEmptyLines(dir + "/timestamps_ms.txt");
    for (const QString &line : lines) {
        const QString png = QStringLiteral("%1/0-%2.png")
                                .arg(dir)
                                .arg(line.section(' ', 0, 0).toInt(), 4, 10, QLatin1Char('0'));
        QVERIFY2(QFileInfo::exists(png), qPrintable(line));
    }
    const QStringList pngs = QDir(dir).entryList({"*.png"}, QDir::Files);
    QVERIFY(pngs.size() >= lines.size());
    for (const QString &png : pngs)
        QVERIFY2(!QImage(dir + "/" + png).isNull(), qPrintable(png));
}

// The header of audio.wav describes exactly the samples in the file.
void verifyAudioIntact(const QString &dir)
{
    const WavAnalysis::Wav wav = WavAnalysis::read(dir + "/audio.wav");
    QVERIFY(wav.valid);
    QCOMPARE(qint64(wav.dataLength), qint64(wav.data.size()));
    QCOMPARE(QFileInfo(dir + "/audio.wav").size(), qint64(44 + wav.data.size()));
    QCOMPARE(qint64(wav.riffLength), qint64(36 + wav.data.size()));
    QVERIFY(wav.data.size() % (wav.channelCount * wav.bitsPerSample / 8) == 0);
}

// A tmpfs mounted for one test (needs root; tests skip without it).
class TestMount
{
public:
    TestMount(const QString &path, const QString &options) : m_path(path)
    {
        QDir().mkpath(path);
        m_mounted = QProcess::execute("mount", {"-t", "tmpfs", "-o", options, "tmpfs", path}) == 0;
    }
    ~TestMount()
    {
        if (m_mounted)
            QProcess::execute("umount", {"-l", m_path});
    }
    [[nodiscard]] bool mounted() const { return m_mounted; }

private:
    QString m_path;
    bool m_mounted = false;
};

// The directory the recorder printed on standard output when the recording began.
QString printedDirectory(ProgramRun &run)
{
    const QStringList lines = run.standardOutput().split('\n', Qt::SkipEmptyParts);
    return lines.isEmpty() ? QString() : lines.first();
}

// A child's environment with the fake NDI runtime listing one stream that serves frames.
QProcessEnvironment fakeNdiEnvironment(const QString &configHome, const QString &frames)
{
    QProcessEnvironment environment = TestEnvironment::childEnvironment(configHome);
    environment.insert("NDI_RUNTIME_DIR_V6", NdiFakeRuntime::directory());
    environment.remove("NDI_RUNTIME_DIR_V5");
    environment.insert("QUILLORA_FAKE_NDI_SOURCES", "1");
    environment.insert("QUILLORA_FAKE_NDI_FRAMES", frames);
    return environment;
}

// The moment the recording's clock started, from its log: invalid if it did not within 20 s.
QDateTime waitForAudioStart(ProgramRun &run, const QString &dataDir)
{
    QDateTime origin;
    run.waitFor(
        [&] {
            origin = loggedAt(logFileOf(dataDir), "[Recorder] audio started");
            return origin.isValid();
        },
        20000);
    return origin;
}

} // namespace

// QuilloraRecorder --record as a separate process on the test's screen and sound server.
class HeadlessTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestEnvironment::hasDisplay() || !TestEnvironment::hasPulseAudio())
            QSKIP("needs an X display and the test sound server");
        m_sine = qEnvironmentVariable("QUILLORA_TEST_SINE_SOURCE", "sine");
    }

    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        m_dataDir = m_root->filePath("data");
        setRootColor("#101010");
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("duration without record") << QStringList{"--duration", "5"};
        QTest::newRow("bad duration") << QStringList{"--record", "--duration", "soon"};
        QTest::newRow("duration too long") << QStringList{"--record", "--duration", "99999999999"};
        QTest::newRow("email without live") << QStringList{"--record", "--email", "a@b.example"};
        QTest::newRow("record and list") << QStringList{"--record", "--list-sources"};
        QTest::newRow("export kind") << QStringList{"--export", "slides", "."};
        QTest::newRow("export without directory") << QStringList{"--export", "video"};
        QTest::newRow("output without export") << QStringList{"--output", "talk.mp4"};
        QTest::newRow("export and record") << QStringList{"--export", "video", ".", "--record"};
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        ProgramRun run(TestEnvironment::binaryPath("QuilloraRecorder"));
        run.setEnvironment(TestEnvironment::childEnvironment(m_root->filePath("config")));
        QVERIFY(run.start(arguments));
        QVERIFY(run.waitForFinished(20000));
        QCOMPARE(run.exitCode(), 2);
        QVERIFY(run.standardError().contains("Usage:"));
    }

    // Exports run without a window and without a display, say how far they are, and leave
    // nothing behind when the presentation is incomplete.
    void exportsFromTheCommandLine()
    {
        const QString dir = ExportTestPresentation::create(
            QDir(m_root->path()), "Talk", "Talk", {{0, {1}}, {2000, {2}}, {4000, {3}}}, 6000);
        QVERIFY(!dir.isEmpty());
        QProcessEnvironment environment =
            TestEnvironment::childEnvironment(m_root->filePath("config"));
        environment.remove("DISPLAY");
        auto exportRun = [&](const QStringList &arguments, int expectedExitCode) {
            auto run =
                std::make_unique<ProgramRun>(TestEnvironment::binaryPath("QuilloraRecorder"));
            run->setEnvironment(environment);
            if (!run->start(QStringList{"--export"} + arguments) || !run->waitForFinished(120000))
                return std::unique_ptr<ProgramRun>();
            if (run->exitCode() != expectedExitCode) {
                qInfo() << run->standardError();
                return std::unique_ptr<ProgramRun>();
            }
            return run;
        };

        std::unique_ptr<ProgramRun> run = exportRun({"handout", dir}, 0);
        QVERIFY(run);
        QCOMPARE(run->standardOutput().trimmed(), dir + "/handout.pdf");
        QVERIFY(run->standardError().contains("100 %"));
        QProcess pdfinfo;
        pdfinfo.start("pdfinfo", {dir + "/handout.pdf"});
        QVERIFY(pdfinfo.waitForFinished(30000));
        QVERIFY2(pdfinfo.readAllStandardOutput().contains(QByteArray("Pages:           3")),
                 "one page per slide");

        QVERIFY(exportRun({"player", dir}, 0));
        QVERIFY(QFileInfo::exists(dir + "/index.html"));
        const QString video = m_root->filePath("talk.mp4");
        QVERIFY(exportRun({"video", dir, "--output", video}, 0));
        QVERIFY(QFileInfo(video).size() > 0);

        // A missing slide or missing audio: the reason, and no file.
        const QByteArray handout = PresentationTestDirs::readFile(dir + "/handout.pdf");
        QVERIFY(QFile::rename(dir + "/0-0002.png", m_root->filePath("0-0002.png")));
        run = exportRun({"handout", dir}, 1);
        QVERIFY(run);
        QVERIFY2(lastLine(run->standardError()).contains("0-0002.png is missing"),
                 qPrintable(run->standardError()));
        QCOMPARE(PresentationTestDirs::readFile(dir + "/handout.pdf"), handout);
        QVERIFY(QFile::rename(m_root->filePath("0-0002.png"), dir + "/0-0002.png"));
        QVERIFY(QFile::remove(dir + "/audio.wav"));
        QVERIFY(QFile::remove(video));
        run = exportRun({"video", dir, "--output", video}, 1);
        QVERIFY(run);
        QVERIFY2(lastLine(run->standardError()).contains("audio.wav is missing"),
                 qPrintable(run->standardError()));
        QVERIFY(!QFileInfo::exists(video));
        QCOMPARE(QDir(m_root->path()).entryList({"*.part"}, QDir::Files | QDir::Hidden),
                 QStringList());
    }

    void listsSources()
    {
        ProgramRun run(TestEnvironment::binaryPath("QuilloraRecorder"));
        run.setEnvironment(TestEnvironment::childEnvironment(m_root->filePath("config")));
        QVERIFY(run.start({"--list-sources", "--data-dir", m_dataDir}));
        QVERIFY(run.waitForFinished(20000));
        QCOMPARE(run.exitCode(), 0);
        const QString output = run.standardOutput();
        QVERIFY2(output.contains("IntervalScreenCapture\tInterval screen capture"),
                 qPrintable(output));
        QVERIFY2(output.contains("\n  " + m_sine + "\t"), qPrintable(output));
        // Log lines go to standard error, standard output holds only the listing.
        QVERIFY(!output.contains("[D]"));
    }

    // A source named on the command line that never appears is refused by name after the wait,
    // and stays the stored choice.
    void absentSlideSourceIsRefusedAndKept()
    {
        ProgramRun run(TestEnvironment::binaryPath("QuilloraRecorder"));
        run.setEnvironment(TestEnvironment::childEnvironment(m_root->filePath("config")));
        QVERIFY(
            run.start({"--record", "--slide-source", "no-such-source", "--data-dir", m_dataDir}));
        QVERIFY(run.waitForFinished(30000));
        QCOMPARE(run.exitCode(), 1);
        QVERIFY2(lastLine(run.standardError()).contains("\"no-such-source\" is not available"),
                 qPrintable(run.standardError()));
        QCOMPARE(storedSetting(m_root->filePath("config"), "recorderSettings/selectedSlideSource")
                     .toString(),
                 QStringLiteral("no-such-source"));
        QVERIFY(QDir(m_dataDir + "/Presentations")
                    .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                    .isEmpty());
    }

    // NDI streams are found over seconds: a chosen one that is listed only after a while is
    // waited for, recorded from, and used again by the next start.
    void lateNetworkSourceIsWaitedForAndKept()
    {
        QProcessEnvironment environment =
            fakeNdiEnvironment(m_root->filePath("config"), QStringLiteral("green"));
        environment.insert("QUILLORA_FAKE_NDI_DISCOVERY_DELAY_MS", "2500");
        environment.insert("QUILLORA_FAKE_NDI_SIZE", "320x240");
        for (const bool named : {true, false}) {
            ProgramRun run(TestEnvironment::binaryPath("QuilloraRecorder"));
            run.setEnvironment(environment);
            QStringList arguments{"--record", "--duration",    "2",   "--data-dir",
                                  m_dataDir,  "--audio-input", m_sine};
            if (named)
                arguments << "--slide-source"
                          << "127.0.0.1:5961";
            QVERIFY(run.start(arguments));
            QVERIFY(run.waitForFinished(40000));
            QVERIFY2(run.exitCode() == 0, qPrintable(run.standardError()));
            const QString dir = printedDirectory(run);
            const QImage slide(dir + "/0-0001.png");
            QCOMPARE(slide.size(), QSize(320, 240));
            QCOMPARE(QColor(slide.pixel(10, 10)), QColor(30, 200, 60));
            QTest::qWait(1000);
        }
    }

    // A stream that is listed but never shows a picture: the start gives up after its time with
    // the source's name, and leaves no directory behind.
    void sourceThatNeverDeliversIsRefused()
    {
        const QProcessEnvironment environment =
            fakeNdiEnvironment(m_root->filePath("config"), QStringLiteral("none"));
        ProgramRun run(TestEnvironment::binaryPath("QuilloraRecorder"));
        run.setEnvironment(environment);
        QVERIFY(run.start({"--record", "--data-dir", m_dataDir, "--audio-input", m_sine,
                           "--slide-source", "127.0.0.1:5961"}));
        QVERIFY(run.waitForFinished(30000));
        QCOMPARE(run.exitCode(), 1);
        QCOMPARE(lastLine(run.standardError()),
                 QStringLiteral("QuilloraRecorder: The slide source \"FAKE-HOST (Slides 1)\" "
                                "delivers no pictures."));
        QVERIFY(QDir(m_dataDir + "/Presentations")
                    .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                    .isEmpty());
        const QStringList warnings = untaggedWarnings(logFileOf(m_dataDir));
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
    }

    // A file-size limit makes the audio file's writes fail part way: the recording stops with the
    // reason, and what was written stays whole.
    void failedWriteStopsTheRecording()
    {
        ProgramRun run(TestEnvironment::binaryPath("QuilloraRecorder"));
        run.setEnvironment(TestEnvironment::childEnvironment(m_root->filePath("config")));
        // 2 MiB per file: the audio reaches it after about ten seconds.
        run.setWrapper("bash", {"-c", "trap '' XFSZ; ulimit -f 2048; exec \"$0\" \"$@\""});
        QVERIFY(run.start(
            {"--record", "--duration", "60", "--data-dir", m_dataDir, "--audio-input", m_sine}));
        QVERIFY(run.waitFor([&] { return !printedDirectory(run).isEmpty(); }, 30000));
        setRootColor("#805020");
        QTest::qWait(3000);
        setRootColor("#205080");
        QVERIFY(run.waitForFinished(40000));
        QCOMPARE(run.exitCode(), 1);
        QVERIFY2(lastLine(run.standardError()).contains("Cannot write "),
                 qPrintable(run.standardError()));

        const QString dir = printedDirectory(run);
        verifyAudioIntact(dir);
        verifySlidesIntact(dir);
        QVERIFY(slideTimes(dir).size() >= 2);
        const QStringList warnings = untaggedWarnings(logFileOf(m_dataDir));
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
    }

    // Low space is reported early; when it runs out, the recording stops while the files can
    // still be finished, and a new one does not start.
    void nearlyFullDiskStopsTheRecording()
    {
        const QString small = m_root->filePath("small");
        TestMount mount(small, "size=320m");
        if (!mount.mounted())
            QSKIP("needs root to mount a small file system");
        const QString dataDir = small + "/data";

        ProgramRun run(TestEnvironment::binaryPath("QuilloraRecorder"));
        run.setEnvironment(TestEnvironment::childEnvironment(m_root->filePath("config")));
        QVERIFY(run.start(
            {"--record", "--duration", "60", "--data-dir", dataDir, "--audio-input", m_sine}));
        QVERIFY(
            run.waitFor([&] { return run.standardError().contains("Disk space is low:"); }, 30000));
        QVERIFY(run.waitFor([&] { return !printedDirectory(run).isEmpty(); }, 30000));
        QTest::qWait(2000);
        QCOMPARE(run.process().state(), QProcess::Running);

        // Leave about 150 MB.
        const qint64 available = QStorageInfo(small).bytesAvailable();
        QCOMPARE(
            QProcess::execute("fallocate", {"-l", QString::number(available - 150 * 1024 * 1024),
                                            small + "/filler"}),
            0);
        QVERIFY(run.waitForFinished(30000));
        QCOMPARE(run.exitCode(), 1);
        QCOMPARE(lastLine(run.standardError()),
                 QStringLiteral("QuilloraRecorder: Recording stopped: the disk is almost full."));
        const QString dir = printedDirectory(run);
        verifyAudioIntact(dir);
        verifySlidesIntact(dir);

        ProgramRun again(TestEnvironment::binaryPath("QuilloraRecorder"));
        again.setEnvironment(TestEnvironment::childEnvironment(m_root->filePath("config")));
        QVERIFY(again.start({"--record", "--data-dir", dataDir, "--audio-input", m_sine}));
        QVERIFY(again.waitForFinished(30000));
        QCOMPARE(again.exitCode(), 1);
        QVERIFY2(lastLine(again.standardError()).contains("the disk is almost full"),
                 qPrintable(again.standardError()));
        QCOMPARE(
            QDir(dataDir + "/Presentations").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(),
            1);
    }

    // A duration beyond what an int of milliseconds holds is waited for in full.
    void longDurationKeepsRecording()
    {
        ProgramRun run(TestEnvironment::binaryPath("QuilloraRecorder"));
        run.setEnvironment(TestEnvironment::childEnvironment(m_root->filePath("config")));
        QVERIFY(run.start({"--record", "--duration", "4294968", "--data-dir", m_dataDir,
                           "--audio-input", m_sine}));
        QVERIFY(waitForAudioStart(run, m_dataDir).isValid());
        QVERIFY(!run.waitForFinished(3000));
        run.terminate();
        QCOMPARE(run.exitCode(), 0);
        verifyAudioIntact(printedDirectory(run));
    }

    // A microphone pulled ten seconds into the talk and plugged back eight seconds later: its
    // loss and its return are reported at once, the recording goes on, the gap is silence and
    // the clicks after the return sit where the recording clock puts them.
    void lostMicrophoneIsReopened()
    {
        // The feeder writes into a FIFO whose reader goes away with the module.
        std::signal(SIGPIPE, SIG_IGN);
        const QString fifo = m_root->filePath("mic.fifo");
        PulseModule microphone(
            "module-pipe-source",
            QStringLiteral("source_name=lostmic file=%1 format=s16le rate=48000 channels=1")
                .arg(fifo));
        QVERIFY(microphone.isLoaded());
        ClickFeeder feeder(fifo);
        QVERIFY(feeder.start());

        ProgramRun run(TestEnvironment::binaryPath("QuilloraRecorder"));
        run.setEnvironment(TestEnvironment::childEnvironment(m_root->filePath("config")));
        constexpr qint64 durationMs = 26000;
        QVERIFY(run.start({"--record", "--duration", QString::number(durationMs / 1000),
                           "--data-dir", m_dataDir, "--audio-input", "lostmic"}));
        const QDateTime origin = waitForAudioStart(run, m_dataDir);
        QVERIFY(origin.isValid());
        QVERIFY(run.waitFor([&] { return origin.msecsTo(QDateTime::currentDateTime()) >= 10000; },
                            15000));
        const qint64 lostMs = origin.msecsTo(QDateTime::currentDateTime());
        QElapsedTimer gone;
        gone.start();
        QVERIFY(microphone.unload());
        const QString lostMessage = "was lost; waiting for it to return.";
        QVERIFY2(run.waitFor([&] { return run.standardError().contains(lostMessage); }, 5000),
                 qPrintable(run.standardError()));
        QVERIFY2(gone.elapsed() <= 2000, qPrintable(QString::number(gone.elapsed())));
        QVERIFY(run.standardError().contains("QuilloraRecorder: Audio input \""));

        QVERIFY(run.waitFor([&] { return gone.elapsed() >= 8000; }, 10000));
        const qint64 returnedMs = origin.msecsTo(QDateTime::currentDateTime());
        QVERIFY(microphone.load());
        // The FIFO opens for writing once the source reads it.
        QTRY_VERIFY_WITH_TIMEOUT(feeder.reopen(), 3000);
        QVERIFY2(run.waitFor([&] { return run.standardError().contains(" is back."); }, 5000),
                 qPrintable(run.standardError()));
        // Once each on the lines meant for the user (the log goes to standard error as well).
        const auto reported = [&run](const QString &what) {
            return run.standardError().count(
                QRegularExpression("^QuilloraRecorder: .*" + QRegularExpression::escape(what) + "$",
                                   QRegularExpression::MultilineOption));
        };
        QCOMPARE(reported(lostMessage), 1);
        QCOMPARE(reported(" is back."), 1);

        QVERIFY(run.waitForFinished(durationMs + 10000));
        QVERIFY2(run.exitCode() == 0, qPrintable(run.standardError()));
        QVERIFY2(!lastLine(run.standardError()).contains("missing"),
                 qPrintable(run.standardError()));
        const QString dir = printedDirectory(run);
        verifyAudioIntact(dir);
        const WavAnalysis::Wav wav = WavAnalysis::read(dir + "/audio.wav");
        QVERIFY2(std::abs(wav.fileSeconds() * 1000 - durationMs) <= 1000,
                 qPrintable(QString::number(wav.fileSeconds())));

        const QList<double> samples = WavAnalysis::firstChannel(wav);
        const QList<qint64> clicks = WavAnalysis::onsets(samples, int(wav.sampleRate), 0.25, 500);
        QList<qint64> before;
        QList<qint64> after;
        for (const qint64 click : clicks) {
            if (click < lostMs - 200)
                before.append(click);
            else if (click > returnedMs + 1000)
                after.append(click);
            else
                QVERIFY2(click <= lostMs + 200 || click >= returnedMs,
                         qPrintable(QStringLiteral("click at %1 ms in the gap").arg(click)));
        }
        const QByteArray report = QStringLiteral("lost %1 ms, back %2 ms, clicks %3")
                                      .arg(lostMs)
                                      .arg(returnedMs)
                                      .arg([&] {
                                          QStringList list;
                                          for (const qint64 click : clicks)
                                              list << QString::number(click);
                                          return list.join(' ');
                                      }())
                                      .toUtf8();
        QVERIFY2(before.size() >= 7 && after.size() >= 5, report.constData());
        // Silence while the input was gone.
        for (qint64 i = (lostMs + 300) * wav.sampleRate / 1000;
             i < (returnedMs - 100) * wav.sampleRate / 1000 && i < samples.size(); ++i)
            QVERIFY2(std::abs(samples.at(i)) < 1e-3, report.constData());
        // The clicks after the return keep the phase of those before it.
        for (const qint64 click : after)
            QVERIFY2(phaseDistance(click, before.last()) <= 20, report.constData());
        const QStringList warnings = allWarnings(logFileOf(m_dataDir));
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
    }

    // The input goes away and stays away: the recording ends as asked, and says what it lacks.
    void recordingEndsWithoutTheLostMicrophone()
    {
        PulseModule microphone("module-sine-source",
                               "source_name=lostsine rate=48000 frequency=440");
        QVERIFY(microphone.isLoaded());
        ProgramRun run(TestEnvironment::binaryPath("QuilloraRecorder"));
        run.setEnvironment(TestEnvironment::childEnvironment(m_root->filePath("config")));
        QVERIFY(run.start(
            {"--record", "--duration", "6", "--data-dir", m_dataDir, "--audio-input", "lostsine"}));
        const QDateTime origin = waitForAudioStart(run, m_dataDir);
        QVERIFY(origin.isValid());
        QVERIFY(run.waitFor([&] { return origin.msecsTo(QDateTime::currentDateTime()) >= 2000; },
                            5000));
        QVERIFY(microphone.unload());
        QVERIFY(run.waitForFinished(20000));
        QVERIFY2(run.exitCode() == 0, qPrintable(run.standardError()));
        // Pulled about 2 s after the audio started and noticed within a second; the duration
        // counts from the recording's start, and the figure is rounded up.
        const QString summary = lastLine(run.standardError());
        QVERIFY2(QRegularExpression("^QuilloraRecorder: Audio input \".*\" was missing for the "
                                    "last [3-5] s of the recording\\.$")
                     .match(summary)
                     .hasMatch(),
                 qPrintable(summary));
        const QString dir = printedDirectory(run);
        verifyAudioIntact(dir);
        const WavAnalysis::Wav wav = WavAnalysis::read(dir + "/audio.wav");
        QVERIFY(std::abs(wav.fileSeconds() - 6) <= 1);
    }

    void unwritablePresentationsCannotStart()
    {
        TestMount mount(m_dataDir + "/Presentations", "ro,size=2g");
        if (!mount.mounted())
            QSKIP("needs root to mount a read-only file system");
        ProgramRun run(TestEnvironment::binaryPath("QuilloraRecorder"));
        run.setEnvironment(TestEnvironment::childEnvironment(m_root->filePath("config")));
        QVERIFY(run.start({"--record", "--data-dir", m_dataDir, "--audio-input", m_sine}));
        QVERIFY(run.waitForFinished(30000));
        QCOMPARE(run.exitCode(), 1);
        QVERIFY2(lastLine(run.standardError()).contains("Cannot create the presentation directory"),
                 qPrintable(run.standardError()));
    }

    void recordsEverythingForTheDuration()
    {
        ProgramRun run(TestEnvironment::binaryPath("QuilloraRecorder"));
        run.setEnvironment(TestEnvironment::childEnvironment(m_root->filePath("config")));
        QVERIFY(run.start(
            {"--record", "--duration", "15", "--data-dir", m_dataDir, "--audio-input", m_sine}));

        // Times in the presentation count from the start of the audio.
        const QDateTime origin = waitForAudioStart(run, m_dataDir);
        QVERIFY(origin.isValid());
        const QString dir = printedDirectory(run);
        QVERIFY2(QFileInfo(dir).isDir(), qPrintable(run.standardOutput()));

        X11Pointer pointer;
        QVERIFY(pointer.isValid());
        QList<qint64> changes{0};
        const QStringList colors{"#a03030", "#30a030", "#3030a0"};
        for (const QString &color : colors) {
            QTest::qWait(3000);
            changes.append(origin.msecsTo(QDateTime::currentDateTime()));
            setRootColor(color);
            pointer.moveBy(17, 11);
        }

        QVERIFY(run.waitForFinished(30000));
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.exitCode(), 0);

        QVERIFY(QFileInfo::exists(dir + "/presentation.xml"));
        QCOMPARE(QDir(dir).entryList({"*.png"}, QDir::Files, QDir::Name),
                 (QStringList{"0-0001.png", "0-0002.png", "0-0003.png", "0-0004.png"}));
        const QList<qint64> times = slideTimes(dir);
        QCOMPARE(times.size(), 4);
        for (int i = 0; i < 4; ++i) {
            const qint64 late = times.at(i) - changes.at(i);
            QVERIFY2(late > -1500 && late < 1500,
                     qPrintable(QStringLiteral("slide %1 at %2 ms, shown at %3 ms")
                                    .arg(i + 1)
                                    .arg(times.at(i))
                                    .arg(changes.at(i))));
        }

        const WavAnalysis::Wav wav = WavAnalysis::read(dir + "/audio.wav");
        QVERIFY(wav.valid);
        QVERIFY2(qAbs(wav.headerSeconds() - 15.0) <= 1.0,
                 qPrintable(QString::number(wav.headerSeconds())));
        QCOMPARE(qint64(wav.dataLength), qint64(wav.data.size()));
        const QList<double> samples = WavAnalysis::firstChannel(wav);
        // The sine, measured away from the start (a late start is padded with silence).
        const double frequency = WavAnalysis::dominantFrequency(
            samples.mid(samples.size() / 2, int(wav.sampleRate)), int(wav.sampleRate));
        const double expected =
            qEnvironmentVariable("QUILLORA_TEST_SINE_FREQUENCY", "440").toDouble();
        QVERIFY2(qAbs(frequency - expected) <= expected * 0.02,
                 qPrintable(QString::number(frequency)));

        QVERIFY(nonEmptyLines(dir + "/mouse_positions.txt").size() >= 2);
        QVERIFY(!nonEmptyLines(dir + "/screens_geometry.txt").isEmpty());
        const QStringList warnings = untaggedWarnings(logFileOf(m_dataDir));
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
    }

    void interruptFinishesTheRecording()
    {
        ProgramRun run(TestEnvironment::binaryPath("QuilloraRecorder"));
        run.setEnvironment(TestEnvironment::childEnvironment(m_root->filePath("config")));
        QVERIFY(run.start({"--record", "--data-dir", m_dataDir, "--audio-input", m_sine}));
        QVERIFY(waitForAudioStart(run, m_dataDir).isValid());
        QTest::qWait(5000);
        ::kill(pid_t(run.process().processId()), SIGINT);
        QVERIFY(run.waitForFinished(20000));
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.exitCode(), 0);

        const QString dir = printedDirectory(run);
        QVERIFY(QFileInfo::exists(dir + "/presentation.xml"));
        QVERIFY(QFileInfo::exists(dir + "/0-0001.png"));
        QVERIFY(!slideTimes(dir).isEmpty());
        const WavAnalysis::Wav wav = WavAnalysis::read(dir + "/audio.wav");
        QVERIFY(wav.valid);
        QCOMPARE(qint64(wav.dataLength), qint64(wav.data.size()));
        QVERIFY2(wav.headerSeconds() > 4.0 && wav.headerSeconds() < 7.0,
                 qPrintable(QString::number(wav.headerSeconds())));
        QVERIFY(!nonEmptyLines(dir + "/screens_geometry.txt").isEmpty());
    }

    // Audio and slides share one timeline: a beep played at the moment the picture changes is
    // found in audio.wav where the slide's time says.
    void slidesAndAudioShareOneTimeline()
    {
        const QString fifo = qEnvironmentVariable("QUILLORA_TEST_PIPE_FILE");
        const QString source = qEnvironmentVariable("QUILLORA_TEST_PIPE_SOURCE", "vpipe");
        if (fifo.isEmpty())
            QSKIP("needs the test sound server's FIFO source");
        ProgramRun run(TestEnvironment::binaryPath("QuilloraRecorder"));
        run.setEnvironment(TestEnvironment::childEnvironment(m_root->filePath("config")));
        QVERIFY(run.start({"--record", "--data-dir", m_dataDir, "--audio-input", source}));
        QVERIFY(waitForAudioStart(run, m_dataDir).isValid());
        // Sound reaches the source only from now on, as from a microphone switched on late: the
        // recorder has to place it right on the timeline all the same.
        BeepFeeder feeder(fifo);
        QVERIFY(feeder.start());

        const quint32 seed = QRandomGenerator::global()->generate();
        QRandomGenerator random(seed);
        const QStringList colors{"#c04040", "#40c040", "#4040c0", "#c0c040", "#40c0c0"};
        for (const QString &color : colors) {
            QTest::qWait(2000 + random.bounded(1500));
            feeder.beep();
            setRootColor(color);
        }
        QTest::qWait(2500);
        ::kill(pid_t(run.process().processId()), SIGTERM);
        QVERIFY(run.waitForFinished(20000));
        QCOMPARE(run.exitCode(), 0);

        const QString dir = printedDirectory(run);
        const QList<qint64> times = slideTimes(dir);
        QCOMPARE(times.size(), 6);
        const WavAnalysis::Wav wav = WavAnalysis::read(dir + "/audio.wav");
        QVERIFY(wav.valid);
        const QList<qint64> beeps =
            WavAnalysis::onsets(WavAnalysis::firstChannel(wav), int(wav.sampleRate), 0.2, 500);
        QStringList beepTexts;
        for (qint64 beep : beeps)
            beepTexts << QString::number(beep);
        QVERIFY2(beeps.size() == 5,
                 qPrintable(
                     QStringLiteral("seed %1, beeps at %2 ms").arg(seed).arg(beepTexts.join(' '))));
        for (int i = 0; i < 5; ++i) {
            const qint64 difference = times.at(i + 1) - beeps.at(i);
            QVERIFY2(difference >= -100 && difference <= 1100,
                     qPrintable(QStringLiteral("seed %1: slide %2 at %3 ms, beep at %4 ms")
                                    .arg(seed)
                                    .arg(i + 2)
                                    .arg(times.at(i + 1))
                                    .arg(beeps.at(i))));
        }
    }

    void liveStreamWithLogin()
    {
        FakeWebService service;
        QVERIFY(service.listen());
        FakeS3Server s3;
        const FakeWebService::StreamAnswer answer;
        QVERIFY2(s3.start({{answer.accessKeyId, answer.secretAccessKey, answer.sessionToken}},
                          {answer.bucket}),
                 qPrintable(s3.errorOutput()));

        QProcessEnvironment environment =
            TestEnvironment::childEnvironment(m_root->filePath("config"));
        environment.insert("QUILLORA_API_URL", service.url());
        environment.insert("QUILLORA_S3_ENDPOINT", s3.endpoint());
        environment.insert("QUILLORA_PASSWORD", "correct horse");
        ProgramRun run(TestEnvironment::binaryPath("QuilloraRecorder"));
        run.setEnvironment(environment);
        QVERIFY(run.start({"--record", "--live", "--email", "speaker@example.org", "--duration",
                           "4", "--data-dir", m_dataDir, "--audio-input", m_sine}));
        QVERIFY(run.waitForFinished(40000));
        QCOMPARE(run.exitCode(), 0);

        const QString dir = printedDirectory(run);
        QVERIFY(QFileInfo(dir).fileName().startsWith("Live Stream "));
        const QString slides = dir + QStringLiteral("/slides_%1").arg(answer.slideVersion);
        const QStringList pngs = QDir(slides).entryList({"*.png"}, QDir::Files);
        QCOMPARE(pngs.size(), 1);
        QVERIFY(!s3.object(answer.bucket, answer.prefix + pngs.first()).isEmpty());
        QCOMPARE(service.requests(FakeWebService::loginPath).size(), 1);
        QCOMPARE(service.requests(FakeWebService::slidesPath).size(), 1);
        QVERIFY(service.requests(FakeWebService::pingPath).size() >= 2);
        // The password never reaches the log.
        QFile log(logFileOf(m_dataDir));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(!log.readAll().contains("correct horse"));
        QVERIFY(!run.standardError().contains("correct horse"));
    }

    void failedLiveStreamCannotStart()
    {
        FakeWebService service;
        QVERIFY(service.listen());
        service.setAnswer(FakeWebService::streamsPath, 422,
                          QJsonObject{{"message", "Presentation not found."}});
        QProcessEnvironment environment =
            TestEnvironment::childEnvironment(m_root->filePath("config"));
        environment.insert("QUILLORA_API_URL", service.url());
        environment.insert("QUILLORA_PASSWORD", "pw");
        ProgramRun run(TestEnvironment::binaryPath("QuilloraRecorder"));
        run.setEnvironment(environment);
        QVERIFY(run.start({"--record", "--live", "--email", "speaker@example.org",
                           "--presentation-id", "999", "--data-dir", m_dataDir}));
        QVERIFY(run.waitForFinished(30000));
        QCOMPARE(run.exitCode(), 1);
        QVERIFY2(run.standardError().contains("Presentation not found."),
                 qPrintable(run.standardError()));
        const QJsonObject create = service.requests(FakeWebService::streamsPath).first().json();
        QVERIFY(QJsonDocument(create).toJson().contains("999"));
    }

    void cleanupTestCase() { setRootColor("#000000"); }

private:
    QString m_sine;
    std::unique_ptr<QTemporaryDir> m_root;
    QString m_dataDir;
};

QTEST_MAIN(HeadlessTest)
#include "tst_headless.moc"
