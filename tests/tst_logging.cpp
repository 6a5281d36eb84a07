#include "Logging.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sys/stat.h>

#include <vector>

namespace {

void forwardToLogging(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    Logging::instance()->log(type, context, message);
}

const QRegularExpression lineFormat(
    QStringLiteral("^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}\\.\\d{3} \\[[DWCIU]\\] (.*)$"));

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QString messageOf(const QString &line)
{
    return lineFormat.match(line).captured(1);
}

} // namespace

// The singleton opens its file once per process, so the cases run in order on one file.
class LoggingTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void levelLetters_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("letter");
        QTest::newRow("debug") << int(QtDebugMsg) << "D";
        QTest::newRow("warning") << int(QtWarningMsg) << "W";
        QTest::newRow("critical") << int(QtCriticalMsg) << "C";
        QTest::newRow("fatal") << int(QtFatalMsg) << "D";
        QTest::newRow("info") << int(QtInfoMsg) << "I";
        QTest::newRow("unknown") << 17 << "U";
    }

    void levelLetters()
    {
        QFETCH(int, type);
        QFETCH(QString, letter);
        const QString line = Logging::formatLine(static_cast<QtMsgType>(type), "[Test] hello");
        const auto match = lineFormat.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        QCOMPARE(line.mid(23, 5), QStringLiteral(" [%1] ").arg(letter));
        QCOMPARE(match.captured(1), QStringLiteral("[Test] hello"));
    }

    void pendingLinesComeFirstAndAreBounded()
    {
        QVERIFY(m_dir.isValid());
        qInstallMessageHandler(forwardToLogging);

        // More lines than the pending list keeps: the oldest are dropped, the rest keep order.
        const int extra = 10;
        for (int i = 0; i < Logging::maxPendingLines + extra; ++i)
            qDebug().noquote() << QStringLiteral("[Test] pending %1").arg(i);

        // A usual umask: the log file must not get its group and world bits from it.
        ::umask(022);
        // The directory does not exist yet: it is created before the file opens.
        const QString logDir = m_dir.filePath("nested/Logs");
        Logging::instance()->setLogDirectory(logDir);
        qWarning() << "[Test] after open";
        m_logFile = Logging::instance()->logFilePath();
        QVERIFY(!m_logFile.isEmpty());
        QVERIFY(QFileInfo(m_logFile).fileName().contains(
            QRegularExpression("^quillora_recorder_\\d{8}_\\d{6}\\.log$")));

        const QStringList lines = readLines(m_logFile);
        QCOMPARE(lines.size(), Logging::maxPendingLines + 1);
        for (const QString &line : lines)
            QVERIFY2(lineFormat.match(line).hasMatch(), qPrintable(line));

        // Two lines of the logger itself joined the pending list after the test's lines.
        const int firstKept = extra + 2;
        QCOMPARE(messageOf(lines.first()), QStringLiteral("[Test] pending %1").arg(firstKept));
        for (int i = 0; i < Logging::maxPendingLines - 2; ++i)
            QCOMPARE(messageOf(lines.at(i)),
                     QStringLiteral("[Test] pending %1").arg(firstKept + i));
        const int count = lines.size();
        QVERIFY(messageOf(lines.at(count - 3)).startsWith("[Logging] setting log directory to"));
        QVERIFY(messageOf(lines.at(count - 2)).startsWith("[Logging] opening log file \""));
        QVERIFY(lines.last().contains(" [W] [Test] after open"));
    }

    // The log holds the user's e-mail address and live-stream ids.
    void logFileIsOwnerOnly()
    {
        QVERIFY(!m_logFile.isEmpty());
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(m_logFile).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0600));
    }

    void concurrentLinesStayWhole()
    {
        QVERIFY(!m_logFile.isEmpty());
        const int before = int(readLines(m_logFile).size());
        const int threads = 4;
        const int perThread = 500;
        std::vector<std::unique_ptr<QThread>> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back(QThread::create([t] {
                for (int i = 0; i < perThread; ++i)
                    qInfo().noquote() << QStringLiteral("[Test] thread %1 line %2 %3")
                                             .arg(t)
                                             .arg(i)
                                             .arg(QString(40, QLatin1Char('x')));
            }));
            workers.back()->start();
        }
        for (auto &worker : workers)
            QVERIFY(worker->wait(30000));

        const QStringList lines = readLines(m_logFile).mid(before);
        QCOMPARE(lines.size(), threads * perThread);
        const QRegularExpression message(
            QStringLiteral("^\\[Test\\] thread (\\d) line (\\d+) x{40}$"));
        std::vector<int> next(threads, 0);
        for (const QString &line : lines) {
            const auto match = message.match(messageOf(line));
            QVERIFY2(match.hasMatch(), qPrintable(line));
            // Each thread's lines arrive in the order it wrote them.
            const int thread = match.captured(1).toInt();
            QCOMPARE(match.captured(2).toInt(), next[thread]++);
        }
    }

    void cleanupTestCase() { qInstallMessageHandler(nullptr); }

private:
    QTemporaryDir m_dir;
    QString m_logFile;
};

QTEST_GUILESS_MAIN(LoggingTest)
#include "tst_logging.moc"
