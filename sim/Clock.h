#pragma once

#include <cerrno>
#include <cstdint>
#include <ctime>

namespace kcsim {

// The one clock of the simulator: every deadline, gap and "SENT" stamp is
// CLOCK_MONOTONIC in nanoseconds, the clock a bench on the same host reads too.
constexpr std::int64_t nsPerMs = 1'000'000;
constexpr std::int64_t nsPerSecond = 1'000'000'000;

inline std::int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * nsPerSecond + now.tv_nsec;
}

inline void sleepUntil(std::int64_t deadlineNs)
{
    timespec deadline{};
    deadline.tv_sec = static_cast<time_t>(deadlineNs / nsPerSecond);
    deadline.tv_nsec = static_cast<long>(deadlineNs % nsPerSecond);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

// Deadlines are absolute; -1 stands for none.
inline void earliest(std::int64_t &current, std::int64_t candidate)
{
    if (candidate >= 0 && (current < 0 || candidate < current))
        current = candidate;
}

} // namespace kcsim
