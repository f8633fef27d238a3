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

PollLoop::Ready PollLoop::wait(std::int64_t deadlineNs, int controlFd, std::vector<pollfd> &lineFds)
{
    const int timeoutMs = timeoutFor(deadlineNs);
    std::vector<pollfd> fds{{signalPipe[0], POLLIN, 0}, {controlFd, POLLIN, 0}};
    fds.insert(fds.end(), lineFds.begin(), lineFds.end());

    Ready ready;
    // A negative descriptor is skipped by poll() itself.
    if (poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR) {
        std::perror("kc4420-sim: poll");
        ready.stop = true;
        return ready;
    }
    ready.stop = fds[0].revents & POLLIN;
    ready.control = fds[1].revents;
    for (std::size_t i = 0; i < lineFds.size(); ++i)
        lineFds[i].revents = fds[i + 2].revents;
    return ready;
}

} // namespace kcsim
