#include "PollLoop.h"

#include "Clock.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

namespace kcsim {

namespace {

// Below this, sleeping to the exact deadline beats poll()'s millisecond timeout.
constexpr std::int64_t preciseSleepNs = 2 * nsPerMs;

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
    (void)ignored;
    errno = savedErrno;
}

int timeoutFor(std::int64_t deadlineNs)
{
    if (deadlineNs < 0)
        return -1;
    const std::int64_t remaining = deadlineNs - monotonicNs();
    if (remaining <= 0)
        return 0;
    if (remaining < preciseSleepNs) {
        sleepUntil(deadlineNs);
        return 0;
    }
    return static_cast<int>(std::min<std::int64_t>(remaining / nsPerMs, 60000));
}

} // namespace

bool PollLoop::start()
{
    if (pipe(signalPipe) != 0)
        return false;
    for (const int fd : signalPipe) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    // Output to a vanished reader must not kill us, and a simulator started in the
    // background must not stop when it looks at the terminal.
    action.sa_handler = SIG_IGN;
    for (const int signal : {SIGPIPE, SIGTTIN, SIGTTOU})
        sigaction(signal, &action, nullptr);
    return true;
}

PollLoop::Ready PollLoop::wait(std::int64_t deadlineNs, int controlFd, int lineFd, short lineEvents)
{
    const int timeoutMs = timeoutFor(deadlineNs);
    pollfd fds[3];
    nfds_t count = 0;
    fds[count++] = {signalPipe[0], POLLIN, 0};
    const nfds_t controlSlot = controlFd >= 0 ? count++ : 0;
    if (controlFd >= 0)
        fds[controlSlot] = {controlFd, POLLIN, 0};
    const nfds_t lineSlot = lineEvents != 0 ? count++ : 0;
    if (lineEvents != 0)
        fds[lineSlot] = {lineFd, lineEvents, 0};

    Ready ready;
    if (poll(fds, count, timeoutMs) < 0 && errno != EINTR) {
        std::perror("kc4420-sim: poll");
        ready.stop = true;
        return ready;
    }
    ready.stop = fds[0].revents & POLLIN;
    ready.control = controlFd >= 0 && fds[controlSlot].revents;
    ready.line = lineEvents != 0 ? fds[lineSlot].revents : 0;
    return ready;
}

} // namespace kcsim
