#pragma once

#include <csignal>
#include <sys/resource.h>

// Files this process writes cannot grow past `bytes` while it lives, as on a
// full disk: a write is cut short at the cap and the next one fails (SIGXFSZ
// is ignored meanwhile, so it fails instead of ending the process).
class FileSizeCap
{
public:
    explicit FileSizeCap(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit cap{bytes, m_old.rlim_max};
        setrlimit(RLIMIT_FSIZE, &cap);
    }
    ~FileSizeCap()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_handler);
    }
    FileSizeCap(const FileSizeCap &) = delete;
    FileSizeCap &operator=(const FileSizeCap &) = delete;

private:
    rlimit m_old{};
    void (*m_handler)(int) = nullptr;
};
