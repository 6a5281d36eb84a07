#pragma once

#include <QFile>
#include <QRecursiveMutex>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <QtGlobal>

#include <atomic>
#include <cstdio>

// The process-wide sink of Qt's log messages: every message becomes one line on standard output
// and in the log file of the Logs directory. Lines logged before the file is open wait in memory
// and go to the file first, in their order, once it opens.
class Logging
{
public:
    // A run whose log file never opens keeps at most this many lines in memory; the oldest go
    // first. A file that opens later then starts with the newest lines, still in order.
    static constexpr qsizetype maxPendingLines = 10000;

    static Logging *instance();

    void log(QtMsgType type, const QMessageLogContext &context, const QString &message);
    void setLogDirectory(const QString &path);
    void openLogFile();
    void writePendingLogLinesToLogFile();
    void closeLogFile();

    [[nodiscard]] QString logFilePath() const;

    // Where the lines are printed besides the file: standard output, or standard error when
    // standard output carries a program's results (headless recording).
    void setConsole(FILE *console) { m_console.store(console); }

    static QString formatLine(QtMsgType type, const QString &message);
    static QChar levelLetter(QtMsgType type);

    Logging(const Logging &) = delete;
    Logging &operator=(const Logging &) = delete;
    ~Logging();

private:
    Logging();

    QString m_logDirectory;
    QFile m_logFile;
    mutable QRecursiveMutex m_mutex;
    QTextStream m_logStream;
    QStringList m_pendingLogLines;
    std::atomic<FILE *> m_console{stdout};
};
