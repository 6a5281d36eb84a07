#pragma once

#include <QAudioDevice>
#include <QByteArray>
#include <QDebug>
#include <QList>
#include <QMetaType>
#include <QString>

// The description of one audio input the user can choose, recognised by the device identifier.
class AudioInputInfo
{
    Q_GADGET

public:
    AudioInputInfo() = default;
    explicit AudioInputInfo(const QAudioDevice &device);

    Q_INVOKABLE [[nodiscard]] QByteArray id() const;
    Q_INVOKABLE [[nodiscard]] QString name() const;
    [[nodiscard]] bool isValid() const { return !m_device.isNull(); }
    [[nodiscard]] QAudioDevice audioDevice() const { return m_device; }

    // Two null inputs are neither equal nor different: replacing a null selection by another null
    // selection is no change.
    bool operator==(const AudioInputInfo &other) const { return sameAs(other); }
    bool operator!=(const AudioInputInfo &other) const;
    Q_INVOKABLE [[nodiscard]] bool sameAs(const AudioInputInfo &other) const;

    // In the platform's order of audio inputs.
    static QList<AudioInputInfo> availableAudioInputs();

private:
    QAudioDevice m_device;
};

QDebug operator<<(QDebug debug, const AudioInputInfo &info);

Q_DECLARE_METATYPE(AudioInputInfo)
Q_DECLARE_METATYPE(QList<AudioInputInfo>)
