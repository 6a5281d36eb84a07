#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Reading back the audio.wav files the recorder writes.
namespace WavAnalysis {

quint32 le32(const QByteArray &bytes, int offset);
quint16 le16(const QByteArray &bytes, int offset);

struct Wav
{
    bool valid = false;
    quint16 formatTag = 0; // 1 integer PCM, 3 float
    quint16 channelCount = 0;
    quint32 sampleRate = 0;
    quint16 bitsPerSample = 0;
    quint32 riffLength = 0;
    quint32 dataLength = 0;
    QByteArray data; // the sample bytes after the 44-byte header, as found in the file

    // Seconds of audio the header's data length covers.
    [[nodiscard]] double headerSeconds() const;
    // Seconds of audio actually in the file.
    [[nodiscard]] double fileSeconds() const;
};

Wav read(const QString &path);

// Channel 0 of the samples as values in [-1, 1].
QList<double> firstChannel(const QByteArray &data, int bitsPerSample, int channelCount,
                           bool isFloat);
QList<double> firstChannel(const Wav &wav);

// The frequency of a clean tone from its rising zero crossings, interpolated between samples.
double dominantFrequency(const QList<double> &samples, int sampleRate);

// Starts (in milliseconds from the first sample) of the stretches whose level rises above
// threshold after at least minimumGapMs below it.
QList<qint64> onsets(const QList<double> &samples, int sampleRate, double threshold,
                     int minimumGapMs);

} // namespace WavAnalysis
