#pragma once

#include "WavFileHeader.h"

#include <QFile>
#include <QString>

class QAudioFormat;

// Writes a WAV file front to back: the header, then samples and silence that are only ever
// appended. The header's lengths are the only thing rewritten, and they always describe the
// samples that reached the disk. The first failed write ends the file: a partial last frame is
// cut off, the header is finalised for what is on disk, and the file is closed.
class WavFileWriter
{
public:
    WavFileWriter() = default;
    ~WavFileWriter();
    WavFileWriter(const WavFileWriter &) = delete;
    WavFileWriter &operator=(const WavFileWriter &) = delete;

    // Creates (or truncates) the file and writes the header with zero lengths.
    bool open(const QString &path, const QAudioFormat &format);
    bool append(const char *data, qint64 bytes);
    bool appendSilence(qint64 bytes);
    // Brings the header's lengths up to date, so that a crash leaves a playable file.
    bool updateLengths();
    // Final lengths, then closes the file.
    bool finish();

    [[nodiscard]] bool isOpen() const { return m_file.isOpen(); }
    [[nodiscard]] bool failed() const { return m_failed; }
    // The system's reason for the failure, such as "No space left on device".
    [[nodiscard]] QString errorString() const { return m_errorString; }
    [[nodiscard]] qint64 dataBytes() const { return m_dataBytes; }
    [[nodiscard]] const WavFileHeader &header() const { return m_header; }

private:
    bool writeAll(const char *data, qint64 bytes);
    void fail();

    QFile m_file;
    WavFileHeader m_header;
    qint64 m_dataBytes = 0;
    bool m_failed = false;
    QString m_errorString;
};
