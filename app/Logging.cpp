#include "Logging.h"

#include "SettingsFile.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>

#include <cstdio>

Logging::Logging()
{
    m_logStream.setDevice(&m_logFile);
}

Logging::~Logging()
{
    QMutexLocker locker(&m_mutex);
    m_logStream.flush();
    m_logStream.setDevice(nullptr);
    m_logFile.close();
}

Logging *Logging::instance()
{
    static Logging logging;
    return &logging;
}

QChar Logging::levelLetter(QtMsgType type)
{
    // Indexed by QtMsgType: debug, warning, critical, fatal, info. Fatal shares the debug letter.
    static constexpr char letters[] = "DWCDI";
    const int index = static_cast<int>(type);
    if (index < 0 || index >= 5)
        return QLatin1Char('U');
    return QLatin1Char(letters[index]);
}

QString Logging::formatLine(QtMsgType type, const QString &message)
{
    QString line;
    QTextStream stream(&line);
    stream << QDateTime::currentDateTime().toString(Qt::ISODateWithMs) << " [" << levelLetter(type)
           << "] " << message;
    stream.flush();
    return line;
}

void Logging::log(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    const QString line = formatLine(type, message);

    // One write per line keeps lines of different threads whole on the console.
    const QByteArray consoleLine = line.toUtf8() + '\n';
    if (FILE *console = m_console.load()) {
        std::fwrite(consoleLine.constData(), 1, static_cast<size_t>(consoleLine.size()), console);
        std::fflush(console);
    }

    QMutexLocker locker(&m_mutex);
    if (m_logFile.isOpen()) {
        m_logStream << line << Qt::endl;
    } else {
        m_pendingLogLines.append(line);
        if (m_pendingLogLines.size() > maxPendingLines)
            m_pendingLogLines.removeFirst();
    }
}

void Logging::setLogDirectory(const QString &path)
{
    qInfo() << "[Logging]"
            << "setting log directory to" << path;
    m_logDirectory = path;
    openLogFile();
}

void Logging::openLogFile()
{
    QMutexLocker locker(&m_mutex);

    const QString fileName = QStringLiteral("quillora_recorder_%1.log")
                                 .arg(QDateTime::currentDateTime().toString("yyyyMMdd_HHmmss"));
    QDir dir(m_logDirectory);
    if (!dir.exists() && !dir.mkpath(QStringLiteral(".")))
        qWarning() << "[Logging]"
                   << "creating log dir" << m_logDirectory << "failed";

    const QString filePath = dir.absoluteFilePath(fileName);
    qInfo() << "[Logging] opening log file" << filePath;

    m_logFile.setFileName(filePath);
    // The log holds the user's e-mail address and the ids of the live stream: like the settings
    // store it is created readable by its owner only. A file system without permissions (the
    // helper warns then) still gets its log.
    SettingsFile::restrictToOwner(filePath);
    if (!m_logFile.open(QIODevice::WriteOnly | QIODevice::Text)) {
        qWarning() << "[Logging]"
                   << "opening log file" << filePath << "failed";
        return;
    }
    writePendingLogLinesToLogFile();
}

void Logging::writePendingLogLinesToLogFile()
{
    QMutexLocker locker(&m_mutex);
    while (!m_pendingLogLines.isEmpty())
        m_logStream << m_pendingLogLines.takeFirst() << Qt::endl;
}

void Logging::closeLogFile()
{
    QMutexLocker locker(&m_mutex);
    m_logStream.flush();
    m_logFile.close();
}

QString Logging::logFilePath() const
{
    QMutexLocker locker(&m_mutex);
    return m_logFile.isOpen() ? m_logFile.fileName() : QString();
}
