#include "ExportFile.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <filesystem>
#include <system_error>

ExportFile::ExportFile(const QString &finalPath) : m_finalPath(finalPath) {}

ExportFile::~ExportFile()
{
    discard();
}

bool ExportFile::open()
{
    const QFileInfo info(m_finalPath);
    // Hidden and marked as unfinished, so nobody mistakes it for the export.
    const QString name = QStringLiteral(".%1.%2.part")
                             .arg(info.fileName())
                             .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    m_file.setFileName(info.dir().absoluteFilePath(name));
    m_writeError.clear();
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        setErrorString(m_file.errorString());
        return false;
    }
    return QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

qint64 ExportFile::readData(char *, qint64)
{
    return -1;
}

qint64 ExportFile::writeData(const char *data, qint64 size)
{
    if (!m_writeError.isEmpty())
        return -1;
    // A write that stops short (disk full, size limit) reports no error; the next one for the
    // rest does, with the reason.
    qint64 written = 0;
    while (written < size) {
        const qint64 n = m_file.write(data + written, size - written);
        if (n <= 0) {
            m_writeError = m_file.errorString();
            setErrorString(m_writeError);
            return -1;
        }
        written += n;
    }
    return size;
}

bool ExportFile::commit()
{
    if (!m_file.isOpen()) {
        setErrorString(QStringLiteral("the file is not open"));
        return false;
    }
    QIODevice::close();
    const bool flushed = m_file.flush();
    m_file.close();
    if (!m_writeError.isEmpty() || !flushed || m_file.error() != QFileDevice::NoError) {
        if (m_writeError.isEmpty())
            setErrorString(m_file.errorString());
        discard();
        return false;
    }
    // rename() replaces the former file in one step, so there is always a whole file or none.
    std::error_code error;
    std::filesystem::rename(std::filesystem::path(m_file.fileName().toStdU16String()),
                            std::filesystem::path(m_finalPath.toStdU16String()), error);
    if (error) {
        setErrorString(QString::fromLocal8Bit(error.message().c_str()));
        discard();
        return false;
    }
    m_file.setFileName(QString());
    return true;
}

void ExportFile::discard()
{
    if (QIODevice::isOpen())
        QIODevice::close();
    if (m_file.isOpen())
        m_file.close();
    if (!m_file.fileName().isEmpty() && m_file.exists() && !m_file.remove())
        qWarning() << "[ExportFile]"
                   << "removing" << m_file.fileName() << "failed:" << m_file.errorString();
    m_file.setFileName(QString());
}
