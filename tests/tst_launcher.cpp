#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace {

const QStringList progressLines{
    QStringLiteral("Updating PATH variable..."),
    QStringLiteral("Updating QSG_RHI_BACKEND variable..."),
    QStringLiteral("Updating QT_QUICK_BACKEND variable..."),
};
const QString missingMessage = QStringLiteral("Cannot start App/QuilloraRecorder. Does it exist?");

QString launcherPath()
{
    return TestEnvironment::binaryPath(QStringLiteral("QuilloraRecorderLauncher"));
}

bool writeExecutable(const QString &path, const QByteArray &content,
                     QFileDevice::Permissions permissions)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return false;
    file.close();
    return file.setPermissions(permissions);
}

// A stand-in for the recorder in <dir>/App: it writes its working directory and environment to
// <dir>/environment.txt, then stays alive until <dir>/release appears (or 30 s pass), so that a
// test can tell whether the launcher waited for it.
bool installFakeRecorder(const QString &dir)
{
    if (!QDir(dir).mkpath(QStringLiteral("App")))
        return false;
    const QByteArray quotedDir = "'" + dir.toUtf8() + "'";
    const QByteArray script =
        "#!/bin/sh\n"
        "out=" +
        quotedDir +
        "\n"
        "{ echo \"cwd=$(pwd -P)\"; /usr/bin/env; } > \"$out/environment.tmp\"\n"
        "/bin/mv \"$out/environment.tmp\" \"$out/environment.txt\"\n"
        "i=0\n"
        "while [ ! -e \"$out/release\" ] && [ $i -lt 600 ]; do\n"
        "    /bin/sleep 0.05; i=$((i + 1))\n"
        "done\n"
        "echo finished > \"$out/finished\"\n";
    return writeExecutable(dir + QStringLiteral("/App/QuilloraRecorder"), script,
                           QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                               QFileDevice::ExeOwner);
}

QHash<QString, QString> readEnvironment(const QString &path)
{
    QHash<QString, QString> values;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return values;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0)
            values.insert(QString::fromUtf8(line.left(equals)),
                          QString::fromUtf8(line.mid(equals + 1)));
    }
    return values;
}

QStringList outputLines(QByteArray output)
{
    output.replace('\r', QByteArray());
    QStringList lines = QString::fromUtf8(output).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The controlling side of a pseudo terminal, closed with the object.
class PseudoTerminal
{
public:
    PseudoTerminal() : m_master(posix_openpt(O_RDWR | O_NOCTTY))
    {
        if (m_master >= 0 && (grantpt(m_master) != 0 || unlockpt(m_master) != 0)) {
            ::close(m_master);
            m_master = -1;
        }
    }
    ~PseudoTerminal()
    {
        if (m_master >= 0)
            ::close(m_master);
    }
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    [[nodiscard]] bool isOpen() const { return m_master >= 0; }
    [[nodiscard]] QString terminalPath() const
    {
        const char *name = ptsname(m_master);
        return name ? QString::fromLocal8Bit(name) : QString();
    }
    bool type(char key) const { return ::write(m_master, &key, 1) == 1; }

private:
    int m_master;
};

} // namespace

class TestLauncher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void recorderInheritsThePreparedEnvironment();
    void recorderInheritsThePreparedEnvironment_data();
    void unsetSearchPathsGetTheAppDirectory();
    void unsetSearchPathsGetTheAppDirectory_data();
    void missingRecorderFailsWithoutWaiting();
    void missingRecorderFailsWithoutWaiting_data();
    void missingRecorderWaitsForAKeyOnATerminal();
    void windowsLauncherUnderWine();

private:
    QProcessEnvironment baseEnvironment() const;
};

void TestLauncher::initTestCase()
{
    QVERIFY2(QFileInfo(launcherPath()).isExecutable(), qPrintable(launcherPath()));
}

QProcessEnvironment TestLauncher::baseEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QSG_RHI_BACKEND"));
    environment.remove(QStringLiteral("QT_QUICK_BACKEND"));
    return environment;
}

void TestLauncher::recorderInheritsThePreparedEnvironment_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("libraryPath");

    QTest::newRow("usual") << QStringLiteral("/usr/local/bin:/usr/bin:/bin")
                           << QStringLiteral("/opt/example/lib");
    // Far beyond any fixed buffer: every character must reach the recorder.
    QString longPath;
    for (int i = 0; longPath.size() < 10000; ++i)
        longPath += QStringLiteral("/nonexistent/directory-%1:").arg(i, 5, 10, QLatin1Char('0'));
    longPath += QStringLiteral("/usr/bin:/bin");
    QTest::newRow("10,000-character PATH") << longPath << longPath;
}

void TestLauncher::recorderInheritsThePreparedEnvironment()
{
    QFETCH(QString, path);
    QFETCH(QString, libraryPath);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(installFakeRecorder(dir.path()));

    QProcessEnvironment environment = baseEnvironment();
    environment.insert(QStringLiteral("PATH"), path);
    environment.insert(QStringLiteral("LD_LIBRARY_PATH"), libraryPath);
    QProcess launcher;
    launcher.setProcessEnvironment(environment);
    launcher.setWorkingDirectory(dir.path());
    launcher.start(launcherPath(), {});
    launcher.closeWriteChannel();
    // The fake recorder keeps running until released, so the launcher must not wait for it.
    QVERIFY2(launcher.waitForFinished(20000), "the launcher waited for the recorder");
    QCOMPARE(launcher.exitStatus(), QProcess::NormalExit);
    QCOMPARE(launcher.exitCode(), 0);
    QCOMPARE(outputLines(launcher.readAllStandardOutput()), progressLines);

    const QString environmentFile = dir.filePath(QStringLiteral("environment.txt"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(environmentFile), 20000);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("finished"))));
    const QHash<QString, QString> seen = readEnvironment(environmentFile);
    QCOMPARE(seen.value(QStringLiteral("cwd")), QDir(dir.path()).canonicalPath());
    // The directory the recorder is started from, whatever the working directory of the programs
    // it starts in turn.
    const QString app = QDir(dir.path()).canonicalPath() + QStringLiteral("/App");
    QCOMPARE(seen.value(QStringLiteral("PATH")), app + QLatin1Char(':') + path);
    QCOMPARE(seen.value(QStringLiteral("LD_LIBRARY_PATH")), app + QLatin1Char(':') + libraryPath);
    QCOMPARE(seen.value(QStringLiteral("QSG_RHI_BACKEND")), QStringLiteral("software"));
    QCOMPARE(seen.value(QStringLiteral("QT_QUICK_BACKEND")), QStringLiteral("rhi"));

    QFile release(dir.filePath(QStringLiteral("release")));
    QVERIFY(release.open(QIODevice::WriteOnly));
    release.close();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(QStringLiteral("finished"))), 20000);
}

void TestLauncher::unsetSearchPathsGetTheAppDirectory_data()
{
    QTest::addColumn<bool>("unset");
    QTest::newRow("empty") << false;
    QTest::newRow("unset") << true;
}

void TestLauncher::unsetSearchPathsGetTheAppDirectory()
{
    // A trailing separator would put the current directory on the search paths; without the
    // system's directories behind it, the recorder could start no system program.
    QFETCH(bool, unset);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(installFakeRecorder(dir.path()));
    QFile release(dir.filePath(QStringLiteral("release")));
    QVERIFY(release.open(QIODevice::WriteOnly));
    release.close();

    QProcessEnvironment environment = baseEnvironment();
    if (unset) {
        environment.remove(QStringLiteral("PATH"));
        environment.remove(QStringLiteral("LD_LIBRARY_PATH"));
    } else {
        environment.insert(QStringLiteral("PATH"), QString());
        environment.insert(QStringLiteral("LD_LIBRARY_PATH"), QString());
    }
    QProcess launcher;
    launcher.setProcessEnvironment(environment);
    launcher.setWorkingDirectory(dir.path());
    launcher.start(launcherPath(), {});
    QVERIFY(launcher.waitForFinished(20000));
    QCOMPARE(launcher.exitCode(), 0);

    const QString environmentFile = dir.filePath(QStringLiteral("environment.txt"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(environmentFile), 20000);
    const QHash<QString, QString> seen = readEnvironment(environmentFile);
    const QString app = QDir(dir.path()).canonicalPath() + QStringLiteral("/App");
    QCOMPARE(seen.value(QStringLiteral("PATH")),
             app + QStringLiteral(":/usr/local/bin:/usr/bin:/bin"));
    QCOMPARE(seen.value(QStringLiteral("LD_LIBRARY_PATH")), app);
}

void TestLauncher::missingRecorderFailsWithoutWaiting_data()
{
    QTest::addColumn<QString>("setup");
    QTest::newRow("no App directory") << QStringLiteral("none");
    QTest::newRow("recorder not executable") << QStringLiteral("not executable");
    QTest::newRow("App is a file") << QStringLiteral("file");
    // As from a shortcut whose working directory is elsewhere: App is looked up there.
    QTest::newRow("started from another directory") << QStringLiteral("elsewhere");
}

void TestLauncher::missingRecorderFailsWithoutWaiting()
{
    QFETCH(QString, setup);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString workingDirectory = dir.path();
    if (setup == QLatin1String("not executable")) {
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("App")));
        QVERIFY(writeExecutable(dir.filePath(QStringLiteral("App/QuilloraRecorder")), "#!/bin/sh\n",
                                QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    } else if (setup == QLatin1String("file")) {
        QVERIFY(writeExecutable(dir.filePath(QStringLiteral("App")), "",
                                QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    } else if (setup == QLatin1String("elsewhere")) {
        QVERIFY(installFakeRecorder(dir.path()));
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("elsewhere")));
        workingDirectory = dir.filePath(QStringLiteral("elsewhere"));
    }

    QProcess launcher;
    launcher.setProcessEnvironment(baseEnvironment());
    launcher.setWorkingDirectory(workingDirectory);
    // Standard input is an open pipe that never delivers a key: a launcher that waited for one
    // would hang here.
    launcher.start(launcherPath(), {});
    QVERIFY2(launcher.waitForFinished(20000), "the launcher waited without a terminal");
    QCOMPARE(launcher.exitStatus(), QProcess::NormalExit);
    QCOMPARE(launcher.exitCode(), 1);
    QCOMPARE(outputLines(launcher.readAllStandardOutput()),
             progressLines + QStringList{missingMessage});
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("environment.txt"))));
}

void TestLauncher::missingRecorderWaitsForAKeyOnATerminal()
{
    PseudoTerminal terminal;
    if (!terminal.isOpen())
        QSKIP("no pseudo terminal available");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());

    QProcess launcher;
    launcher.setProcessEnvironment(baseEnvironment());
    launcher.setWorkingDirectory(dir.path());
    launcher.setStandardInputFile(terminal.terminalPath());
    launcher.start(launcherPath(), {});
    QVERIFY(launcher.waitForStarted(20000));
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT(
        (output += launcher.readAllStandardOutput()).contains(missingMessage.toUtf8()), 20000);
    // The message must stay readable until somebody presses a key (one key, no Enter needed).
    QVERIFY(!launcher.waitForFinished(500));
    QVERIFY(terminal.type('x'));
    QVERIFY2(launcher.waitForFinished(20000), "a key press did not end the launcher");
    QCOMPARE(launcher.exitCode(), 1);
    output += launcher.readAllStandardOutput();
    QCOMPARE(outputLines(output), progressLines + QStringList{missingMessage});
}

void TestLauncher::windowsLauncherUnderWine()
{
    QString wine = QStandardPaths::findExecutable(QStringLiteral("wine"));
    if (wine.isEmpty())
        wine = QStandardPaths::findExecutable(QStringLiteral("wine64"));
    if (wine.isEmpty() && QFileInfo(QStringLiteral("/usr/lib/wine/wine64")).isExecutable())
        wine = QStringLiteral("/usr/lib/wine/wine64");
    if (wine.isEmpty())
        QSKIP("Wine is not installed");
    const QString windowsLauncher =
        TestEnvironment::binaryPath(QStringLiteral("windows-cross/QuilloraRecorderLauncher.exe"));
    if (!QFile::exists(windowsLauncher))
        QSKIP("the Windows launcher was not cross-compiled (scripts/test.d/windows-cross.sh)");

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QProcessEnvironment environment = baseEnvironment();
    // Wine's own files stay in the temporary directory, away from the user's home.
    environment.insert(QStringLiteral("WINEPREFIX"), dir.filePath(QStringLiteral("wineprefix")));
    environment.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
    environment.insert(QStringLiteral("WINEDLLOVERRIDES"), QStringLiteral("mscoree,mshtml="));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("work")));

    QProcess launcher;
    launcher.setProcessEnvironment(environment);
    launcher.setWorkingDirectory(dir.filePath(QStringLiteral("work")));
    launcher.start(wine, {windowsLauncher});
    launcher.closeWriteChannel();
    // The first start of Wine sets up its prefix, which takes a while.
    QVERIFY2(launcher.waitForFinished(240000), "the Windows launcher did not end under Wine");
    QCOMPARE(launcher.exitCode(), 1);
    QCOMPARE(outputLines(launcher.readAllStandardOutput()),
             progressLines + QStringList{QStringLiteral(
                                 "Cannot start app\\QuilloraRecorder.exe. Does it exist?")});
}

QTEST_GUILESS_MAIN(TestLauncher)
#include "tst_launcher.moc"
