#include "DeviceOutages.h"

#include <algorithm>

bool DeviceOutages::lost(const QString &device, qint64 atMs)
{
    const bool known =
        std::any_of(m_outages.cbegin(), m_outages.cend(),
                    [&device](const Outage &outage) { return outage.device == device; });
    if (known)
        return false;
    m_outages.append(Outage{device, atMs});
    return true;
}

bool DeviceOutages::returned(const QString &device)
{
    return m_outages.removeIf([&device](const Outage &outage) { return outage.device == device; }) >
           0;
}

QStringList DeviceOutages::missing() const
{
    QStringList devices;
    for (const Outage &outage : m_outages)
        devices.append(outage.device);
    return devices;
}

QString DeviceOutages::summary(qint64 endMs) const
{
    QStringList sentences;
    for (const Outage &outage : m_outages) {
        // Rounded up: a device missing at all was missing for at least a second.
        const qint64 seconds = std::max<qint64>(1, (endMs - outage.sinceMs + 999) / 1000);
        sentences.append(QStringLiteral("%1 was missing for the last %2 s of the recording.")
                             .arg(outage.device)
                             .arg(seconds));
    }
    return sentences.join(QLatin1Char(' '));
}
