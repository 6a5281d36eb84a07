#include "Application.h"
#include "ErrorWindow.h"
#include "ProgramRun.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

const QRegularExpression lineFormat(
    QStringLiteral("^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}\\.\\d{3} \\[[DWCIU]\\] .*$"));

const QString errorText = QStringLiteral(
    "Quillora Recorder data directory could not be initialized.<br>Try moving the Quillora "
    "Recorder into a directory with write permissions (e.g. Desktop or Documents).");

void touch(const QString &path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

// A copy of the recorder at another place, so that its own directory is the one under test.
// A hard link keeps it cheap; /proc/self/exe then names the link.
bool placeRecorder(const QString &dir)
{
    QDir().mkpath(dir);
    const QString source = TestEnvironment::binaryPath("QuilloraRecorder");
    const QString target = QDir(dir).filePath("QuilloraRecorder");
    if (::link(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) == 0)
        return true;
    return QFile::copy(source, target);
}

QString findLogFile(const QString &dataDir)
{
    const QStringList logs = QDir(dataDir + "/Logs").entryList({"*.log"}, QDir::Files);
    return logs.size() == 1 ? dataDir + "/Logs/" + logs.first() : QString();
}

QString readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool windowTitled(const QString &title)
{
    QProcess xwininfo;
    xwininfo.start("xwininfo", {"-root", "-tree"});
    xwininfo.waitForFinished(5000);
    return QString::fromUtf8(xwininfo.readAllStandardOutput()).contains('"' + title + '"');
}

void screenshot(const QString &name)
{
    QProcess::execute("import", {"-window", "root", TestEnvironment::outputDir() + "/" + name});
}

} // namespace

class ApplicationTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void dataDirectoryRule_data()
    {
        QTest::addColumn<QString>("programDir");
        QTest::addColumn<bool>("launcher");
        QTest::addColumn<QString>("expected");
        QTest::newRow("App with launcher") << "X/App" << true << "X";
        QTest::newRow("App without launcher") << "X/App" << false << "X/App";
        QTest::newRow("MyApp with launcher") << "X/MyApp" << true << "X";
        QTest::newRow("Application with launcher") << "X/Application" << true << "X/Application";
        QTest::newRow("plain directory") << "X/bin" << true << "X/bin";
    }

    void dataDirectoryRule()
    {
        QFETCH(QString, programDir);
        QFETCH(bool, launcher);
        QFETCH(QString, expected);
        QTemporaryDir root;
        QDir(root.path()).mkpath(programDir);
        if (launcher)
            touch(root.filePath("X/" + Application::launcherFileName()));
        QCOMPARE(Application::dataDirectoryFor(root.filePath(programDir)).absolutePath(),
                 QDir(root.filePath(expected)).absolutePath());
    }

    void dataDirOptionPreparesDirectoriesAndLog()
    {
        QTemporaryDir root;
        const QString dataDir = root.filePath("data");
        ProgramRun run(TestEnvironment::binaryPath("QuilloraRecorder"));
        run.setEnvironment(TestEnvironment::childEnvironment(root.filePath("config")));
        QVERIFY(run.start({"--data-dir", dataDir}));
        // The console gets each line before the file does.
        QVERIFY(run.waitFor(
            [&] {
                const QString logFile = findLogFile(dataDir);
                return !logFile.isEmpty() && readFile(logFile).contains("work directory set to");
            },
            20000));
        run.terminate();

        QVERIFY(QFileInfo(dataDir + "/Presentations").isDir());
        const QString logFile = findLogFile(dataDir);
        QVERIFY(QFileInfo(logFile).fileName().contains(
            QRegularExpression("^quillora_recorder_\\d{8}_\\d{6}\\.log$")));

        const QStringList lines = readFile(logFile).split('\n', Qt::SkipEmptyParts);
        QVERIFY(lines.size() >= 4);
        for (const QString &line : lines)
            QVERIFY2(lineFormat.match(line).hasMatch(), qPrintable(line));

        // Lines logged before the file existed come first, the opening line last among them.
        int opening = -1;
        for (int i = 0; i < lines.size(); ++i) {
            if (lines.at(i).contains("] [Logging] opening log file \"")) {
                opening = i;
                break;
            }
        }
        QVERIFY(opening >= 1);
        QVERIFY(lines.at(opening - 1).contains("[I] [Logging] setting log directory to"));
        const QString logsPath = QDir(dataDir + "/Logs").absolutePath();
        QVERIFY(lines.at(opening + 1)
                    .contains("[D] [Application] log directory set to \"" + logsPath + "\""));
        QVERIFY(lines.at(opening + 2)
                    .contains("[D] [Application] work directory set to \"" +
                              QDir(dataDir + "/Presentations").absolutePath() + "\""));
        for (int i = 1; i < lines.size(); ++i)
            QVERIFY(lines.at(i - 1).left(23) <= lines.at(i).left(23));
    }

    void shippedLayoutKeepsDataBesideLauncher_data()
    {
        QTest::addColumn<QString>("programDir");
        QTest::addColumn<bool>("launcher");
        QTest::addColumn<QString>("dataDir");
        QTest::newRow("App with launcher") << "X/App" << true << "X";
        QTest::newRow("App without launcher") << "X/App" << false << "X/App";
    }

    void shippedLayoutKeepsDataBesideLauncher()
    {
        QFETCH(QString, programDir);
        QFETCH(bool, launcher);
        QFETCH(QString, dataDir);
        QTemporaryDir root;
        QVERIFY(placeRecorder(root.filePath(programDir)));
        if (launcher)
            touch(root.filePath("X/" + Application::launcherFileName()));

        ProgramRun run(root.filePath(programDir + "/QuilloraRecorder"));
        run.setEnvironment(TestEnvironment::childEnvironment(root.filePath("config")));
        QVERIFY(run.start({}));
        QVERIFY(run.waitForOutput("work directory set to", 20000));
        run.terminate();
        QVERIFY(QFileInfo(root.filePath(dataDir + "/Presentations")).isDir());
        QVERIFY(QFileInfo(root.filePath(dataDir + "/Logs")).isDir());
        if (dataDir != programDir)
            QVERIFY(!QFileInfo::exists(root.filePath(programDir + "/Presentations")));
    }

    void unusableDataDirShowsErrorWindow_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("warning");
        QTest::newRow("read-only") << true << "Data dir is not writable: \"";
        QTest::newRow("Logs is a file") << false << "Creating Logs dir failed: \"";
    }

    void unusableDataDirShowsErrorWindow()
    {
        QFETCH(bool, readOnly);
        QFETCH(QString, warning);
        if (!TestEnvironment::hasDisplay())
            QSKIP("needs an X display");

        QTemporaryDir root;
        const QString dataDir = root.filePath("data");
        QVERIFY(QDir().mkpath(dataDir));
        ProgramRun run(TestEnvironment::binaryPath("QuilloraRecorder"));
        run.setEnvironment(TestEnvironment::childEnvironment(root.filePath("config")));
        if (readOnly) {
            QFile::setPermissions(root.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                   QFile::ExeOwner | QFile::ReadOther |
                                                   QFile::ExeOther | QFile::ReadGroup |
                                                   QFile::ExeGroup);
            QFile::setPermissions(dataDir, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther |
                                               QFile::ExeOther | QFile::ReadGroup |
                                               QFile::ExeGroup);
            // root may write anywhere: run the recorder as an ordinary user instead.
            if (::geteuid() == 0)
                run.setWrapper("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups"});
        } else {
            touch(dataDir + "/Logs");
        }

        QVERIFY(run.start({"--data-dir", dataDir}));
        QVERIFY2(run.waitForOutput(warning, 20000), qPrintable(run.standardOutput()));
        QVERIFY(run.waitFor([] { return windowTitled("Quillora Recorder"); }, 20000));
        QTest::qWait(500);
        screenshot(readOnly ? "error-window.png" : "error-window-logs-file.png");
        QCOMPARE(run.process().state(), QProcess::Running);
        run.terminate();

        QVERIFY(!QFileInfo::exists(dataDir + "/Presentations"));
        if (readOnly)
            QVERIFY(!QFileInfo::exists(dataDir + "/Logs"));
        QVERIFY(!run.standardOutput().contains("work directory set to"));
        QFile::setPermissions(dataDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void errorWindowShowsTextAndVersion()
    {
        if (!TestEnvironment::hasDisplay())
            QSKIP("needs an X display");
        ErrorWindow window(errorText);
        QCOMPARE(window.objectName(), QStringLiteral("Quillora Recorder"));
        QCOMPARE(window.version(), QStringLiteral("150"));
        window.run();
        QCOMPARE(window.engine()->rootObjects().size(), 1);
        auto *quickWindow = qobject_cast<QQuickWindow *>(window.engine()->rootObjects().first());
        QVERIFY(quickWindow);
        QCOMPARE(quickWindow->title(), QStringLiteral("Quillora Recorder"));
        QCOMPARE(quickWindow->size(), QSize(640, 480));
        QCOMPARE(quickWindow->color(), QColor("#040316"));
        auto *error = quickWindow->findChild<QQuickItem *>("errorLabel");
        auto *version = quickWindow->findChild<QQuickItem *>("versionLabel");
        QVERIFY(error && version);
        QCOMPARE(error->property("text").toString(), errorText);
        QCOMPARE(error->property("color").value<QColor>(), QColor("#ff0000"));
        QCOMPARE(version->property("text").toString(), QStringLiteral("Recorder version: 150"));
        QCOMPARE(version->property("color").value<QColor>(), QColor("#aaaaaa"));
    }

    void unknownOptionIsUsageError()
    {
        ProgramRun run(TestEnvironment::binaryPath("QuilloraRecorder"));
        run.setEnvironment(TestEnvironment::childEnvironment(QString()));
        QVERIFY(run.start({"--no-such-option"}));
        QVERIFY(run.waitForFinished(20000));
        QCOMPARE(run.exitCode(), 2);
        QVERIFY(run.standardError().contains("Usage: QuilloraRecorder"));
    }
};

QTEST_MAIN(ApplicationTest)
#include "tst_application.moc"
