#include "RecordingErrorList.h"

void RecordingErrorList::add(const QString &message)
{
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries.at(i).message == message) {
            Entry entry = m_entries.takeAt(i);
            ++entry.count;
            m_entries.append(entry);
            return;
        }
    }
    m_entries.append(Entry{message, 1});
    while (m_entries.size() > maxMessages)
        m_entries.removeFirst();
}

QStringList RecordingErrorList::messages() const
{
    QStringList messages;
    messages.reserve(m_entries.size());
    for (const Entry &entry : m_entries) {
        messages.append(entry.count == 1
                            ? entry.message
                            : QStringLiteral("%1 (%2 times)").arg(entry.message).arg(entry.count));
    }
    return messages;
}
