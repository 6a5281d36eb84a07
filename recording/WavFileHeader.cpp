#include "WavFileHeader.h"

#include <QDataStream>
#include <QIODevice>

#include <algorithm>
#include <limits>

namespace {

int bytesPerSample(QAudioFormat::SampleFormat format)
{
    switch (format) {
    case QAudioFormat::UInt8:
        return 1;
    case QAudioFormat::Int16:
        return 2;
    case QAudioFormat::Int32:
    case QAudioFormat::Float:
        return 4;
    default:
        return 0;
    }
}

// Lengths past 4 GiB do not fit the header's 32 bits: they stay at the largest value rather than
// wrap around to a tiny one.
quint32 clampedLength(qint64 length)
{
    return static_cast<quint32>(std::clamp<qint64>(length, 0, std::numeric_limits<quint32>::max()));
}

} // namespace

WavFileHeader::WavFileHeader(const QAudioFormat &format)
    : m_fmtLength(16),
      // Float samples tagged as integer PCM would play as noise: they carry the IEEE float tag.
      m_audioFormat(format.sampleFormat() == QAudioFormat::Float ? 3 : 1),
      m_channelCount(static_cast<quint16>(format.channelCount())),
      m_sampleRate(static_cast<quint32>(format.sampleRate()))
{
    const int bytes = bytesPerSample(format.sampleFormat());
    m_byteRate = static_cast<quint32>(format.channelCount() * format.sampleRate() * bytes);
    m_blockAlign = static_cast<quint16>(format.channelCount() * bytes);
    m_bitsPerSample = static_cast<quint16>(bytes * 8);
}

qint64 WavFileHeader::seconds() const
{
    return m_byteRate == 0 ? 0 : m_dataLength / m_byteRate;
}

qint64 WavFileHeader::millis() const
{
    if (m_byteRate == 0)
        return 0;
    return static_cast<qint64>(static_cast<double>(m_dataLength) / m_byteRate * 1000.0);
}

bool WavFileHeader::writeHeader(QIODevice *device) const
{
    QDataStream out(device);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData(m_byteOrder == 1 ? "RIFF" : "RIFX", 4);
    out << quint32(0);
    out.writeRawData("WAVE", 4);
    out.writeRawData("fmt ", 4);
    out << m_fmtLength << m_audioFormat << m_channelCount << m_sampleRate << m_byteRate
        << m_blockAlign << m_bitsPerSample;
    out.writeRawData("data", 4);
    out << quint32(0);
    return out.status() == QDataStream::Ok;
}

bool WavFileHeader::writeLengths(QIODevice *device)
{
    const qint64 fileSize = device->size();
    QDataStream out(device);
    out.setByteOrder(QDataStream::LittleEndian);
    bool ok = device->seek(4);
    out << clampedLength(fileSize - 8);
    ok = device->seek(40) && ok;
    out << clampedLength(fileSize - size);
    ok = device->seek(fileSize) && ok;
    return ok && out.status() == QDataStream::Ok;
}

bool WavFileHeader::read(QIODevice *device)
{
    QDataStream in(device);
    in.setByteOrder(QDataStream::LittleEndian);
    char tag[4];
    if (in.readRawData(tag, 4) != 4)
        return false;
    m_byteOrder = qstrncmp(tag, "RIFF", 4) == 0 ? 1 : 0;
    quint32 riffLength = 0;
    in >> riffLength;
    in.readRawData(tag, 4); // "WAVE"
    in.readRawData(tag, 4); // "fmt "
    in >> m_fmtLength >> m_audioFormat >> m_channelCount >> m_sampleRate >> m_byteRate >>
        m_blockAlign >> m_bitsPerSample;
    in.readRawData(tag, 4); // "data"
    in >> m_dataLength;
    return in.status() == QDataStream::Ok;
}
