#include "ControlChannel.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace kcsim {

namespace {

constexpr std::size_t maxControlLine = 4096;

} // namespace

int ControlChannel::fd() const
{
    return m_open ? STDIN_FILENO : -1;
}

bool ControlChannel::read(const std::function<bool(const ControlCommand &)> &run)
{
    char buffer[1024];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return true;
    if (n <= 0) {
        m_open = false;
        return false;
    }
    m_buffer.append(buffer, static_cast<std::size_t>(n));
    for (auto newline = m_buffer.find('\n'); newline != std::string::npos;
         newline = m_buffer.find('\n')) {
        const ControlCommand command = parseControlCommand(m_buffer.substr(0, newline));
        m_buffer.erase(0, newline + 1);
        if (accepted(command) && !run(command))
            return true;
    }
    if (m_buffer.size() > maxControlLine) {
        std::fprintf(stderr, "kc4420-sim: control line too long, discarded\n");
        m_buffer.clear();
    }
    return true;
}

bool ControlChannel::accepted(const ControlCommand &command) const
{
    switch (command.kind) {
    case CommandKind::Empty:
        return false;
    case CommandKind::Quit:
        return true;
    case CommandKind::Invalid:
        std::fprintf(stderr, "kc4420-sim: %s\n", command.problem.c_str());
        return false;
    default:
        if (!m_enabled)
            std::fprintf(stderr, "kc4420-sim: control commands need --control\n");
        return m_enabled;
    }
}

void ControlChannel::print(const std::string &line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace kcsim
