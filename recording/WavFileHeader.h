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
    // The format tag: 1 integer PCM, 3 IEEE float.
    [[nodiscard]] quint16 audioFormat() const { return m_audioFormat; }
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
    // Sets the lengths for dataLength bytes of samples, then returns to the end of them. A
    // writer that counts what reached the disk relies on that count, not on a size that a failed
    // write may have left unknown.
    static bool writeLengths(QIODevice *device, qint64 dataLength);
    // Makes the file at path, a WAV file written by the recorder, consistent again after its
    // recording was killed: when the lengths in the header disagree with the file's size, they
    // are set to cover the whole sample frames on disk, and a partial last frame is cut off.
    // Returns whether the file is consistent now; a file that is not such a WAV file is left
    // untouched.
    static bool repair(const QString &path);
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
