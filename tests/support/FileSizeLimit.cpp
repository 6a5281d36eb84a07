#include "FileSizeLimit.h"

#include <csignal>

FileSizeLimit::FileSizeLimit(qint64 bytes)
{
    if (::getrlimit(RLIMIT_FSIZE, &m_previous) != 0)
        return;
    m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = m_previous;
    limited.rlim_cur = rlim_t(bytes);
    m_active = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    if (m_active)
        ::setrlimit(RLIMIT_FSIZE, &m_previous);
    std::signal(SIGXFSZ, m_previousHandler);
}
