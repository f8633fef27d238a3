#pragma once

#include <cstdint>
#include <poll.h>
#include <vector>

namespace kcsim {

// One poll() over the signal pipe, the control input and the line's descriptors, bounded by the
// earliest deadline. SIGINT, SIGTERM and SIGHUP arrive through the pipe, so a
// stop is seen between two turns and never inside one.
class PollLoop
{
public:
    // False when the signal pipe cannot be made.
    bool start();

    struct Ready
    {
        bool stop = false;    // a signal came, or poll() failed
        bool control = false; // the control input has something, or ended
    };

    // deadlineNs -1: no deadline. controlFd -1: not watched. The line's revents are
    // filled in where they stand.
    Ready wait(std::int64_t deadlineNs, int controlFd, std::vector<pollfd> &lineFds);
};

} // namespace kcsim
