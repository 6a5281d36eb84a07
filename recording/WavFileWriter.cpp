#include "WavFileWriter.h"

#include <QAudioFormat>
#include <QDebug>

namespace {
// Silence goes out in pieces of this size, so that a long gap needs no buffer of its length.
constexpr qint64 silenceChunkBytes = 64 * 1024;
} // namespace

WavFileWriter::~WavFileWriter()
{
    if (m_file.isOpen())
        finish();
}

bool WavFileWriter::open(const QString &path, const QAudioFormat &format)
{
    m_file.setFileName(path);
    m_header = WavFileHeader(format);
    m_dataBytes = 0;
    m_failed = false;
    m_errorString.clear();
    // Unbuffered: every write reaches the system at once, so that a failure is seen by the write
    // that caused it and the count of bytes on disk stays exact.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        m_failed = true;
        m_errorString = m_file.errorString();
        return false;
    }
    if (!m_header.writeHeader(&m_file) || m_file.pos() != WavFileHeader::size) {
        m_failed = true;
        m_errorString = m_file.errorString();
        m_file.close();
        return false;
    }
    return true;
}

bool WavFileWriter::append(const char *data, qint64 bytes)
{
    return writeAll(data, bytes);
}

bool WavFileWriter::appendSilence(qint64 bytes)
{
    // Unsigned 8-bit samples are silent at their middle value, all other formats at zero.
    const QByteArray silence(qMin(bytes, silenceChunkBytes),
                             m_header.sampleSize() == 8 ? char(0x80) : char(0));
    while (bytes > 0) {
        const qint64 chunk = qMin<qint64>(bytes, silence.size());
        if (!writeAll(silence.constData(), chunk))
            return false;
        bytes -= chunk;
    }
    return true;
}

bool WavFileWriter::writeAll(const char *data, qint64 bytes)
{
    if (!m_file.isOpen())
        return false;
    while (bytes > 0) {
        // A write that stops short (a file-size limit reached within it) is followed by one that
        // fails with the reason.
        const qint64 written = m_file.write(data, bytes);
        if (written <= 0) {
            fail();
            return false;
        }
        m_dataBytes += written;
        data += written;
        bytes -= written;
    }
    return true;
}

bool WavFileWriter::updateLengths()
{
    if (!m_file.isOpen())
        return false;
    if (!WavFileHeader::writeLengths(&m_file, m_dataBytes)) {
        fail();
        return false;
    }
    return true;
}

bool WavFileWriter::finish()
{
    if (!m_file.isOpen())
        return !m_failed;
    if (!updateLengths())
        return false;
    m_file.close();
    return true;
}

void WavFileWriter::fail()
{
    m_failed = true;
    m_errorString = m_file.errorString();
    // The user-facing report is the owner's; this records where the file ended.
    qDebug() << "[WavFileWriter] write failed" << m_file.fileName() << "after" << m_dataBytes
             << "bytes of samples:" << m_errorString;
    // Whatever part of a frame made it to the disk is not a sample.
    const int blockAlign = m_header.channelCount() * (m_header.sampleSize() / 8);
    if (blockAlign > 0)
        m_dataBytes -= m_dataBytes % blockAlign;
    if (!m_file.resize(WavFileHeader::size + m_dataBytes) ||
        !WavFileHeader::writeLengths(&m_file, m_dataBytes))
        qWarning() << "[WavFileWriter] cannot finalise" << m_file.fileName()
                   << m_file.errorString();
    m_file.close();
}
