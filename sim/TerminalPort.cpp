#include "LineEndpoint.h"
#include "LinePort.h"

#include "Clock.h"

#include <cerrno>
#include <unistd.h>
#include <utility>

namespace kcsim {

namespace {

// A closed pseudo-terminal reports POLLHUP without pause, so while nobody has the
// line open we look again at this pace instead of polling it.
// Short, so a master that opens the line and asks at once is not kept waiting.
constexpr std::int64_t reconnectCheckNs = 2 * nsPerMs;
constexpr int peer = 0;

// The line as a tool on the other end of a pseudo-terminal or a serial device has it.
class TerminalPort final : public LinePort
{
public:
    TerminalPort(std::string device, std::string link)
        : m_endpoint(std::move(device), std::move(link))
    {
    }

    bool open(int baud, std::int64_t now, std::string &error) override
    {
        if (!m_endpoint.open(baud, error))
            return false;
        m_connected = false;
        m_recheckNs = now;
        return true;
    }

    std::string announcement() const override
    {
        return m_endpoint.isPty() ? "PTY " + m_endpoint.peerPath() : std::string();
    }

    void close() override
    {
        // An unplugged adapter takes its stable name with it, so a path that
        // named the line must not lead to whatever pseudo-terminal comes next.
        m_endpoint.removeLink();
        m_endpoint.close();
        m_connected = false;
        m_recheckNs = -1;
    }

    bool kick() override { return false; }
    bool connected() const override { return m_connected; }
    int lineBaud() const override { return m_endpoint.configuredBaud(); }

    void watch(std::vector<pollfd> &fds, bool wantOut) override
    {
        if (m_connected && m_endpoint.fd() >= 0)
            fds.push_back(
                {m_endpoint.fd(), static_cast<short>(POLLIN | (wantOut ? POLLOUT : 0)), 0});
    }

    bool handle(const std::vector<pollfd> &fds, std::int64_t now) override
    {
        // A command handled in the same turn may have dropped the line meanwhile.
        if (!m_connected || fds.empty() || fds.front().fd != m_endpoint.fd())
            return false;
        const short revents = fds.front().revents;
        if (revents & POLLIN)
            readAvailable(now);
        if (m_connected && (revents & (POLLHUP | POLLERR | POLLNVAL)))
            lost(now);
        return m_connected && (revents & POLLOUT);
    }

    // The one write policy: an interrupted write is retried, a full line takes what
    // it can (0 bytes when nothing), and any other error means the reader has gone.
    ssize_t write(int, const std::uint8_t *data, std::size_t size, std::int64_t now) override
    {
        for (;;) {
            const ssize_t n = ::write(m_endpoint.fd(), data, size);
            if (n >= 0)
                return n;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return 0;
            if (errno != EINTR) {
                lost(now);
                return -1;
            }
        }
    }

    std::int64_t nextDeadline() const override { return m_connected ? -1 : m_recheckNs; }

    // Looks again, once due, whether somebody opened the line.
    void recheck(std::int64_t now) override
    {
        if (m_connected || m_recheckNs < 0 || now < m_recheckNs)
            return;
        pollfd probe{m_endpoint.fd(), POLLIN, 0};
        if (poll(&probe, 1, 0) >= 0 && !(probe.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            m_connected = true;
            m_recheckNs = -1;
            return;
        }
        m_recheckNs = now + reconnectCheckNs;
    }

private:
    void readAvailable(std::int64_t now)
    {
        std::uint8_t buffer[512];
        for (;;) {
            const ssize_t n = ::read(m_endpoint.fd(), buffer, sizeof buffer);
            if (n > 0) {
                m_listener->received(peer, buffer, static_cast<std::size_t>(n), now);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                lost(now);
            return;
        }
    }

    void lost(std::int64_t now)
    {
        m_connected = false;
        if (m_endpoint.fd() >= 0) {
            std::uint8_t buffer[512];
            while (::read(m_endpoint.fd(), buffer, sizeof buffer) > 0) {
            }
        }
        m_listener->lost(peer);
        m_endpoint.discardUnread();
        m_recheckNs = m_endpoint.fd() >= 0 ? now + reconnectCheckNs : -1;
    }

    LineEndpoint m_endpoint;
    bool m_connected = false;
    std::int64_t m_recheckNs = -1;
};

} // namespace

std::unique_ptr<LinePort> makeTerminalPort(std::string device, std::string link)
{
    return std::make_unique<TerminalPort>(std::move(device), std::move(link));
}

} // namespace kcsim
