#pragma once

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <functional>

// Shared between an export running on a worker thread and whoever waits for it: the export
// reports how far it is, the other side may ask it to stop.
class ExportControl
{
public:
    // Called on the export's thread whenever the percentage grows.
    void setProgressHandler(std::function<void(int percent)> handler)
    {
        m_handler = std::move(handler);
    }
    // 0 to 100; smaller or repeated values are ignored.
    void setProgress(int percent)
    {
        percent = qBound(0, percent, 100);
        if (percent <= m_percent)
            return;
        m_percent = percent;
        if (m_handler)
            m_handler(percent);
    }
    [[nodiscard]] int progress() const { return m_percent; }

    // Thread-safe; the export stops at its next check and leaves no output.
    void cancel() { m_cancelled.store(true); }
    [[nodiscard]] bool isCancelled() const { return m_cancelled.load(); }

    static QString cancelledMessage() { return QStringLiteral("The export was cancelled."); }

private:
    std::function<void(int)> m_handler;
    int m_percent = -1;
    std::atomic_bool m_cancelled{false};
};
