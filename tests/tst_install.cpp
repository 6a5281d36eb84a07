// The installed layout: cmake --install puts the launcher at the top and the recorder in App/,
// and the installed launcher starts the recorder with its data beside the launcher.
#include "TestEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <signal.h>

namespace {

// The running processes whose program is the given file.
QList<qint64> processesRunning(const QString &program)
{
    QList<qint64> found;
    const QString wanted = QFileInfo(program).canonicalFilePath();
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool isNumber = false;
        const qint64 pid = entry.toLongLong(&isNumber);
        if (!isNumber)
            continue;
        const QString exe = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid));
        if (!wanted.isEmpty() && exe == wanted)
            found.append(pid);
    }
    return found;
}

// A killed process whose parent has gone stays a zombie until init collects it.
bool hasEnded(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray content = stat.readAll();
    const qsizetype nameEnd = content.lastIndexOf(')');
    return nameEnd < 0 || content.mid(nameEnd + 2, 1) == "Z";
}

// The cmake that configured the build tree, so that its install script meets the same version.
QString cmakeOfBuild()
{
    QFile cache(
        QDir(QStringLiteral(QUILLORA_BINARY_DIR)).filePath(QStringLiteral("CMakeCache.txt")));
    if (cache.open(QIODevice::ReadOnly | QIODevice::Text)) {
        const QByteArray key = "CMAKE_COMMAND:INTERNAL=";
        for (const QByteArray &line : cache.readAll().split('\n')) {
            if (line.startsWith(key))
                return QString::fromLocal8Bit(line.mid(key.size()).trimmed());
        }
    }
    return QStandardPaths::findExecutable(QStringLiteral("cmake"));
}

QHash<QString, QString> readDesktopEntry(const QString &path)
{
    QHash<QString, QString> values;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return values;
    bool inMainGroup = false;
    for (const QByteArray &rawLine : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(rawLine);
        if (line.startsWith(QLatin1Char('[')))
            inMainGroup = line == QLatin1String("[Desktop Entry]");
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (inMainGroup && equals > 0)
            values.insert(line.left(equals), line.mid(equals + 1));
    }
    return values;
}

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void installsTheShippedLayout();
    void desktopEntryStartsTheLauncherInItsDirectory();
    void installedLauncherStartsTheRecorderWithDataBesideIt();

private:
    void stopInstalledRecorders();

    std::unique_ptr<QTemporaryDir> m_dir;
    // With a space, as in a folder the user named.
    QString m_prefix;
};

void TestInstall::initTestCase()
{
    const QString cmake = cmakeOfBuild();
    if (cmake.isEmpty())
        QSKIP("cmake not found");
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_prefix = m_dir->filePath(QStringLiteral("Quillora Recorder"));

    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(cmake, {QStringLiteral("--install"), QStringLiteral(QUILLORA_BINARY_DIR),
                          QStringLiteral("--prefix"), m_prefix});
    QVERIFY(install.waitForFinished(240000));
    QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0,
             install.readAll().constData());
}

void TestInstall::cleanupTestCase()
{
    stopInstalledRecorders();
}

void TestInstall::stopInstalledRecorders()
{
    if (m_prefix.isEmpty())
        return;
    const QList<qint64> pids = processesRunning(m_prefix + QStringLiteral("/App/QuilloraRecorder"));
    for (const qint64 pid : pids)
        ::kill(static_cast<pid_t>(pid), SIGTERM);
    for (const qint64 pid : pids) {
        QTRY_VERIFY_WITH_TIMEOUT(hasEnded(pid), 10000);
    }
}

void TestInstall::installsTheShippedLayout()
{
    const QDir prefix(m_prefix);
    for (const QString &program :
         {QStringLiteral("QuilloraRecorderLauncher"), QStringLiteral("QuilloraSettingsReset"),
          QStringLiteral("App/QuilloraRecorder")}) {
        const QFileInfo info(prefix.filePath(program));
        QVERIFY2(info.isFile() && info.isExecutable(), qPrintable(info.filePath()));
    }
    QVERIFY(!QFile::exists(prefix.filePath(QStringLiteral("App/QuilloraRecorderLauncher"))));
    QVERIFY(!QFile::exists(prefix.filePath(QStringLiteral("QuilloraRecorder"))));
    // The modules the recorder loads at run time sit beside it.
    QVERIFY(QFileInfo(prefix.filePath(QStringLiteral("App/libquillora_camera.so"))).isFile());
    QVERIFY(QFileInfo(prefix.filePath(QStringLiteral("App/libquillora_video.so"))).isFile());
    QVERIFY(QFileInfo(prefix.filePath(QStringLiteral(
                          "share/icons/hicolor/scalable/apps/quillora-recorder.svg")))
                .isFile());
}

void TestInstall::desktopEntryStartsTheLauncherInItsDirectory()
{
    const QString entryPath =
        QDir(m_prefix).filePath(QStringLiteral("share/applications/quillora-recorder.desktop"));
    const QHash<QString, QString> entry = readDesktopEntry(entryPath);
    QCOMPARE(entry.value(QStringLiteral("Type")), QStringLiteral("Application"));
    QCOMPARE(entry.value(QStringLiteral("Exec")),
             QStringLiteral("\"%1/QuilloraRecorderLauncher\"").arg(m_prefix));
    // The launcher finds App/ in its working directory.
    QCOMPARE(entry.value(QStringLiteral("Path")), m_prefix);
    QCOMPARE(entry.value(QStringLiteral("Terminal")), QStringLiteral("false"));
    QVERIFY(QFileInfo(entry.value(QStringLiteral("Icon"))).isFile());

    const QString validator =
        QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (!validator.isEmpty()) {
        QProcess validate;
        validate.setProcessChannelMode(QProcess::MergedChannels);
        validate.start(validator, {entryPath});
        QVERIFY(validate.waitForFinished(30000));
        QVERIFY2(validate.exitCode() == 0, validate.readAll().constData());
    }
}

void TestInstall::installedLauncherStartsTheRecorderWithDataBesideIt()
{
    if (!TestEnvironment::hasDisplay())
        QSKIP("the recorder needs a display (scripts/test provides one)");
    const QDir prefix(m_prefix);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        environment.insert(QString::fromLatin1(variable),
                           m_dir->filePath(QString::fromLatin1(variable).toLower()));

    QProcess launcher;
    launcher.setProcessEnvironment(environment);
    launcher.setWorkingDirectory(m_prefix);
    // The recorder inherits the launcher's output and outlives it: a file, not a pipe that
    // nobody reads once the launcher has gone.
    const QString consolePath = m_dir->filePath(QStringLiteral("console.txt"));
    launcher.setProcessChannelMode(QProcess::MergedChannels);
    launcher.setStandardOutputFile(consolePath);
    launcher.start(prefix.filePath(QStringLiteral("QuilloraRecorderLauncher")), {});
    QVERIFY(launcher.waitForFinished(20000));
    QCOMPARE(launcher.exitCode(), 0);

    const QDir logs(prefix.filePath(QStringLiteral("Logs")));
    const auto logText = [&logs] {
        QByteArray text;
        const QStringList files = logs.entryList({QStringLiteral("*.log")}, QDir::Files);
        for (const QString &name : files) {
            QFile file(logs.filePath(name));
            if (file.open(QIODevice::ReadOnly))
                text += file.readAll();
        }
        return text;
    };
    const auto console = [&consolePath] {
        QFile file(consolePath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QTRY_VERIFY2_WITH_TIMEOUT(logText().contains("work directory set to"), console().constData(),
                              60000);
    QVERIFY(console().startsWith("Updating PATH variable...\nUpdating QSG_RHI_BACKEND variable...\n"
                                 "Updating QT_QUICK_BACKEND variable...\n"));
    const QString presentations = prefix.filePath(QStringLiteral("Presentations"));
    QVERIFY2(logText().contains(presentations.toUtf8()), logText().constData());
    QVERIFY(QFileInfo(presentations).isDir());
    QVERIFY(!QFile::exists(prefix.filePath(QStringLiteral("App/Logs"))));
    QVERIFY(!QFile::exists(prefix.filePath(QStringLiteral("App/Presentations"))));

    QCOMPARE(processesRunning(prefix.filePath(QStringLiteral("App/QuilloraRecorder"))).size(), 1);
    stopInstalledRecorders();
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
