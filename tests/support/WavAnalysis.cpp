#include "WavAnalysis.h"

#include <QFile>
#include <QtEndian>

#include <cmath>

namespace WavAnalysis {

quint32 le32(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<quint32>(bytes.constData() + offset);
}

quint16 le16(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<quint16>(bytes.constData() + offset);
}

double Wav::headerSeconds() const
{
    const double bytesPerSecond = double(sampleRate) * channelCount * (bitsPerSample / 8);
    return bytesPerSecond > 0 ? dataLength / bytesPerSecond : 0;
}

double Wav::fileSeconds() const
{
    const double bytesPerSecond = double(sampleRate) * channelCount * (bitsPerSample / 8);
    return bytesPerSecond > 0 ? data.size() / bytesPerSecond : 0;
}

Wav read(const QString &path)
{
    Wav wav;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return wav;
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 44 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return wav;
    wav.riffLength = le32(bytes, 4);
    wav.formatTag = le16(bytes, 20);
    wav.channelCount = le16(bytes, 22);
    wav.sampleRate = le32(bytes, 24);
    wav.bitsPerSample = le16(bytes, 34);
    wav.dataLength = le32(bytes, 40);
    wav.data = bytes.mid(44);
    wav.valid = true;
    return wav;
}

QList<double> firstChannel(const QByteArray &data, int bitsPerSample, int channelCount,
                           bool isFloat)
{
    QList<double> samples;
    const int bytes = bitsPerSample / 8;
    const int frame = bytes * channelCount;
    if (frame == 0)
        return samples;
    samples.reserve(data.size() / frame);
    for (qsizetype offset = 0; offset + frame <= data.size(); offset += frame) {
        const char *p = data.constData() + offset;
        switch (bytes) {
        case 1:
            samples.append((quint8(*p) - 128) / 128.0);
            break;
        case 2:
            samples.append(qFromLittleEndian<qint16>(p) / 32768.0);
            break;
        case 4:
            samples.append(isFloat ? double(qFromLittleEndian<float>(p))
                                   : qFromLittleEndian<qint32>(p) / 2147483648.0);
            break;
        }
    }
    return samples;
}

QList<double> firstChannel(const Wav &wav)
{
    return firstChannel(wav.data, wav.bitsPerSample, wav.channelCount, wav.formatTag == 3);
}

double dominantFrequency(const QList<double> &samples, int sampleRate)
{
    double first = -1;
    double last = -1;
    int crossings = 0;
    for (qsizetype i = 1; i < samples.size(); ++i) {
        if (samples.at(i - 1) < 0 && samples.at(i) >= 0) {
            const double at = (i - 1) + samples.at(i - 1) / (samples.at(i - 1) - samples.at(i));
            if (first < 0)
                first = at;
            last = at;
            ++crossings;
        }
    }
    if (crossings < 2)
        return 0;
    return (crossings - 1) / ((last - first) / sampleRate);
}

QList<qint64> onsets(const QList<double> &samples, int sampleRate, double threshold,
                     int minimumGapMs)
{
    QList<qint64> result;
    const qint64 minimumGap = qint64(sampleRate) * minimumGapMs / 1000;
    qint64 lastLoud = -minimumGap - 1;
    for (qsizetype i = 0; i < samples.size(); ++i) {
        if (std::abs(samples.at(i)) < threshold)
            continue;
        if (i - lastLoud > minimumGap)
            result.append(i * 1000 / sampleRate);
        lastLoud = i;
    }
    return result;
}

} // namespace WavAnalysis
