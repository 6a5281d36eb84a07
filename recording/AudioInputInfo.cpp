#include "AudioInputInfo.h"

#include <QDebugStateSaver>
#include <QMediaDevices>

AudioInputInfo::AudioInputInfo(const QAudioDevice &device) : m_device(device) {}

QByteArray AudioInputInfo::id() const
{
    return m_device.isNull() ? QByteArray() : m_device.id();
}

QString AudioInputInfo::name() const
{
    return m_device.isNull() ? QStringLiteral("<invalid audio input>") : m_device.description();
}

bool AudioInputInfo::sameAs(const AudioInputInfo &other) const
{
    if (m_device.isNull() && other.m_device.isNull())
        return false;
    return id() == other.id();
}

bool AudioInputInfo::operator!=(const AudioInputInfo &other) const
{
    if (m_device.isNull() && other.m_device.isNull())
        return false;
    return !sameAs(other);
}

QList<AudioInputInfo> AudioInputInfo::availableAudioInputs()
{
    QList<AudioInputInfo> inputs;
    const QList<QAudioDevice> devices = QMediaDevices::audioInputs();
    inputs.reserve(devices.size());
    for (const QAudioDevice &device : devices)
        inputs.append(AudioInputInfo(device));
    return inputs;
}

QDebug operator<<(QDebug debug, const AudioInputInfo &info)
{
    QDebugStateSaver saver(debug);
    debug.nospace() << "AudioInputInfo(" << info.name() << ")";
    return debug;
}
