#pragma once

#include <QtGlobal>

#include <sys/resource.h>

// Limits the size of every file this process writes, as a full disk or a quota would, for as long
// as the object lives. Writes beyond the limit fail with EFBIG instead of raising SIGXFSZ. Needs no
// privileges: only the soft limit is lowered, and it is restored afterwards.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();

    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    [[nodiscard]] bool isActive() const { return m_active; }

private:
    struct rlimit m_previous = {};
    void (*m_previousHandler)(int) = nullptr;
    bool m_active = false;
};
