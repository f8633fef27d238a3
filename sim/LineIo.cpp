#include "LineIo.h"

#include "Clock.h"
#include "ControlCommand.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>
#include <utility>

namespace kcsim {

namespace {

// A closed pseudo-terminal reports POLLHUP without pause, so while nobody has the
// line open we look again at this pace instead of polling it.
// Short, so a master that opens the line and asks at once is not kept waiting.
constexpr std::int64_t reconnectCheckNs = 2 * nsPerMs;
constexpr int floodChunksPerTurn = 16;

} // namespace

LineIo::LineIo(std::string device, std::string link, LineShaper &shaper)
    : m_endpoint(std::move(device), std::move(link)), m_shaper(shaper)
{
}

bool LineIo::open(int baud, std::int64_t now, std::string &error)
{
    if (!m_endpoint.open(baud, error))
        return false;
    m_connected = false;
    m_recheckNs = now;
    return true;
}

void LineIo::drop()
{
    // An unplugged adapter takes its stable name with it, so a path that
    // named the line must not lead to whatever pseudo-terminal comes next.
    m_endpoint.removeLink();
    m_endpoint.close();
    m_connected = false;
    m_recheckNs = -1;
    m_framer.clear();
    m_tx.clear();
    m_floodEndNs = -1;
}

short LineIo::events(std::int64_t now) const
{
    if (!m_connected || m_endpoint.fd() < 0)
        return 0;
    return (m_tx.blocked() || flooding(now)) ? POLLIN | POLLOUT : POLLIN;
}

void LineIo::handle(short revents, std::int64_t now)
{
    // A command handled in the same turn may have dropped the line meanwhile.
    if (!m_connected)
        return;
    if (revents & POLLIN)
        readAvailable(now);
    if (m_connected && (revents & (POLLHUP | POLLERR | POLLNVAL)))
        lost(now);
    if (m_connected && (revents & POLLOUT)) {
        m_tx.unblock();
        if (flooding(now))
            floodSome(now);
    }
}

std::int64_t LineIo::nextDeadline(std::int64_t frameGapNs) const
{
    std::int64_t deadline = m_framer.endNs(frameGapNs);
    earliest(deadline, m_tx.nextDueNs());
    earliest(deadline, m_floodEndNs);
    if (!m_connected)
        earliest(deadline, m_recheckNs);
    return deadline;
}

void LineIo::recheck(std::int64_t now)
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

// The one write policy: an interrupted write is retried, a full line takes what
// it can (0 bytes when nothing), and any other error means the reader has gone.
ssize_t LineIo::write(const std::uint8_t *data, std::size_t size, std::int64_t now)
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

void LineIo::readAvailable(std::int64_t now)
{
    std::uint8_t buffer[512];
    for (;;) {
        const ssize_t n = ::read(m_endpoint.fd(), buffer, sizeof buffer);
        if (n > 0) {
            m_framer.add(buffer, static_cast<std::size_t>(n), now);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            lost(now);
        return;
    }
}

void LineIo::queueReply(std::vector<std::uint8_t> reply, std::int64_t startNs)
{
    m_tx.addReply(m_shaper.shape(std::move(reply)), startNs);
}

void LineIo::writeDue(std::int64_t now, const std::function<void()> &replySent)
{
    if (!m_connected)
        return;
    const auto writer = [this, now](const std::uint8_t *data, std::size_t size) {
        return write(data, size, now);
    };
    m_tx.writeDue(now, writer, replySent);
}

bool LineIo::sendRecord(const std::string &record, std::int64_t now)
{
    // Like a real line with nobody listening, records sent into the void are lost.
    if (!m_connected || flooding(now))
        return false;
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(record.data());
    const ssize_t n = write(bytes, record.size(), now);
    if (n <= 0)
        return false;
    // Finish a record once started, or the reader sees a torn one.
    if (static_cast<std::size_t>(n) < record.size())
        m_tx.addRest({bytes + n, bytes + record.size()}, now);
    return true;
}

void LineIo::sendNoise(std::int64_t now)
{
    // Only between exchanges: never inside a request being received or a reply going out.
    if (!m_connected || !m_tx.empty() || m_framer.receiving() || flooding(now))
        return;
    const std::vector<std::uint8_t> burst = m_shaper.noiseBurst();
    write(burst.data(), burst.size(), now);
}

void LineIo::startFlood(std::int64_t now, double seconds)
{
    // A flood asked for during another one extends it; the report covers both.
    if (!flooding(now)) {
        m_floodStartNs = now;
        m_floodWritten = 0;
    }
    m_floodEndNs = now + static_cast<std::int64_t>(seconds * nsPerSecond);
}

std::string LineIo::floodReport(std::int64_t now)
{
    if (m_floodEndNs < 0 || now < m_floodEndNs)
        return {};
    m_floodEndNs = -1;
    return formatFloodReport(m_floodWritten, now - m_floodStartNs);
}

void LineIo::floodSome(std::int64_t now)
{
    if (m_floodBytes.empty()) {
        m_floodBytes.resize(4096);
        m_shaper.fillRandom(m_floodBytes);
    }
    // Replies queued before the jam would only come out of it garbled.
    m_tx.clear();
    for (int i = 0; i < floodChunksPerTurn && m_connected; ++i) {
        const ssize_t n = write(m_floodBytes.data(), m_floodBytes.size(), now);
        if (n == 0)
            return;
        if (n > 0)
            m_floodWritten += static_cast<unsigned long long>(n);
    }
}

void LineIo::lost(std::int64_t now)
{
    m_connected = false;
    if (m_endpoint.fd() >= 0) {
        std::uint8_t buffer[512];
        while (::read(m_endpoint.fd(), buffer, sizeof buffer) > 0) {
        }
    }
    m_framer.clear();
    m_tx.clear();
    m_endpoint.discardUnread();
    m_recheckNs = m_endpoint.fd() >= 0 ? now + reconnectCheckNs : -1;
}

} // namespace kcsim
