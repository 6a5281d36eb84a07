#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The devices of one recording that went away and came back, on the recording clock. A device is
// named by its label ("Audio input \"USB microphone\""); the recording goes on without it, and
// what was still missing at the end is said when the recording ends.
class DeviceOutages
{
public:
    // What the user is told when a device goes away and comes back.
    [[nodiscard]] static QString lostMessage(const QString &device)
    {
        return QStringLiteral("%1 was lost; waiting for it to return.").arg(device);
    }
    [[nodiscard]] static QString returnedMessage(const QString &device)
    {
        return QStringLiteral("%1 is back.").arg(device);
    }

    // Whether the state changed: a device already lost, or not lost, is not counted twice.
    bool lost(const QString &device, qint64 atMs);
    bool returned(const QString &device);
    void clear() { m_outages.clear(); }

    // The devices missing now, in the order they were lost.
    [[nodiscard]] QStringList missing() const;
    // One sentence per device still missing at endMs, e.g. "Audio input \"X\" was missing for the
    // last 12 s of the recording."; empty when every device was there at the end.
    [[nodiscard]] QString summary(qint64 endMs) const;

private:
    struct Outage
    {
        QString device;
        qint64 sinceMs = 0;
    };
    QList<Outage> m_outages;
};
