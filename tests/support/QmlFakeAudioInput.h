#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

// Stands in for the audio input description in the settings page: QML only asks for the name and
// compares entries by identifier.
class QmlFakeAudioInput
{
    Q_GADGET

public:
    QmlFakeAudioInput() = default;
    QmlFakeAudioInput(const QString &id, const QString &name) : m_id(id), m_name(name) {}

    Q_INVOKABLE [[nodiscard]] QString name() const { return m_name; }
    Q_INVOKABLE [[nodiscard]] QString id() const { return m_id; }
    Q_INVOKABLE [[nodiscard]] bool sameAs(const QmlFakeAudioInput &other) const
    {
        return !m_id.isEmpty() && m_id == other.m_id;
    }
    bool operator==(const QmlFakeAudioInput &other) const { return m_id == other.m_id; }
    bool operator!=(const QmlFakeAudioInput &other) const { return !(*this == other); }

private:
    QString m_id;
    QString m_name;
};

Q_DECLARE_METATYPE(QmlFakeAudioInput)
Q_DECLARE_METATYPE(QList<QmlFakeAudioInput>)
