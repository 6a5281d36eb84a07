#include "WavFileHeader.h"

#include <QDataStream>
#include <QDebug>
#include <QFile>
#include <QIODevice>
#include <QtEndian>

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
    return writeLengths(device, device->size() - size);
}

bool WavFileHeader::writeLengths(QIODevice *device, qint64 dataLength)
{
    QDataStream out(device);
    out.setByteOrder(QDataStream::LittleEndian);
    if (!device->seek(4))
        return false;
    out << clampedLength(dataLength + size - 8);
    if (!device->seek(40))
        return false;
    out << clampedLength(dataLength);
    return out.status() == QDataStream::Ok && device->seek(size + dataLength);
}

bool WavFileHeader::repair(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning() << "[WavFileHeader] cannot read" << path << file.errorString();
        return false;
    }
    const QByteArray header = file.read(size);
    if (header.size() != size || !header.startsWith("RIFF") || header.mid(8, 8) != "WAVEfmt " ||
        header.mid(36, 4) != "data")
        return false;
    const quint16 blockAlign = qFromLittleEndian<quint16>(header.constData() + 32);
    if (blockAlign == 0)
        return false;
    const qint64 onDisk = file.size() - size;
    const qint64 wholeFrames = onDisk - onDisk % blockAlign;
    const quint32 riffLength = qFromLittleEndian<quint32>(header.constData() + 4);
    const quint32 dataLength = qFromLittleEndian<quint32>(header.constData() + 40);
    if (wholeFrames == onDisk && dataLength == clampedLength(wholeFrames) &&
        riffLength == clampedLength(wholeFrames + size - 8))
        return true;
    file.close();

    qDebug() << "[WavFileHeader] repairing" << path << "header data length" << dataLength
             << "bytes on disk" << onDisk;
    if (!file.open(QIODevice::ReadWrite) ||
        (wholeFrames != onDisk && !file.resize(size + wholeFrames)) ||
        !writeLengths(&file, wholeFrames) || !file.flush()) {
        qWarning() << "[WavFileHeader] cannot repair" << path << file.errorString();
        return false;
    }
    file.close();
    return true;
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
