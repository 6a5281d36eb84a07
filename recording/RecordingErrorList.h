#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The error messages of one recording as the user and the status ping see them. A source without
// signal reports the same message every second for hours: a message that comes again is moved to
// the end with a count instead of being added, and only the latest messages are kept.
class RecordingErrorList
{
public:
    static constexpr int maxMessages = 100;

    void add(const QString &message);
    void clear() { m_entries.clear(); }
    [[nodiscard]] bool isEmpty() const { return m_entries.isEmpty(); }
    [[nodiscard]] qsizetype size() const { return m_entries.size(); }

    // Oldest first; a repeated message carries its count, as in "No signal. (3 times)".
    [[nodiscard]] QStringList messages() const;

private:
    struct Entry
    {
        QString message;
        qint64 count = 1;
    };
    QList<Entry> m_entries;
};
