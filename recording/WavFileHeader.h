#pragma once

#include <QAudioFormat>
#include <QtGlobal>

class QIODevice;

// The canonical 44-byte RIFF/WAVE header of a PCM file.
class WavFileHeader
{
public:
    WavFileHeader() = default;
    explicit WavFileHeader(const QAudioFormat &format);

    [[nodiscard]] quint32 byteOrder() const { return m_byteOrder; }
    [[nodiscard]] quint16 channelCount() const { return m_channelCount; }
    [[nodiscard]] quint32 sampleRate() const { return m_sampleRate; }
    // Bits per sample.
    [[nodiscard]] quint16 sampleSize() const { return m_bitsPerSample; }
    [[nodiscard]] quint32 length() const { return m_dataLength; }
    // 0 for a header without a byte rate (an unknown sample format).
    [[nodiscard]] qint64 seconds() const;
    [[nodiscard]] qint64 millis() const;

    bool writeHeader(QIODevice *device) const;
    // Sets the RIFF and data lengths from the device's size, then returns to its end.
    static bool writeLengths(QIODevice *device);
    bool read(QIODevice *device);

    static constexpr qint64 size = 44;

private:
    quint32 m_byteOrder = 1;
    quint32 m_fmtLength = 0;
    quint16 m_audioFormat = 0;
    quint16 m_channelCount = 0;
    quint32 m_sampleRate = 0;
    quint32 m_byteRate = 0;
    quint16 m_blockAlign = 0;
    quint16 m_bitsPerSample = 0;
    quint32 m_dataLength = 0;
};
