#pragma once

#include <cstdint>

namespace kcsim {

// One poll() over the signal pipe, the control input and the line, bounded by the
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
        short line = 0;       // the line's revents
    };

    // deadlineNs -1: no deadline. controlFd -1 or lineEvents 0: not watched.
    Ready wait(std::int64_t deadlineNs, int controlFd, int lineFd, short lineEvents);
};

} // namespace kcsim
