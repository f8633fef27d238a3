#include "LineIo.h"

#include "Clock.h"
#include "ControlCommand.h"

#include <utility>

namespace kcsim {

namespace {

constexpr int floodChunksPerTurn = 16;

} // namespace

LineIo::LineIo(std::unique_ptr<LinePort> port, LineShaper &shaper, bool streamed)
    : m_port(std::move(port)), m_shaper(shaper), m_streamed(streamed)
{
    m_port->setListener(this);
}

bool LineIo::open(int baud, std::int64_t now, std::string &error)
{
    return m_port->open(baud, now, error);
}

void LineIo::drop()
{
    m_port->close();
    m_framers.clear();
    m_tx.clear();
    m_floodEndNs = -1;
}

void LineIo::watch(std::vector<pollfd> &fds, std::int64_t now)
{
    m_port->watch(fds, m_tx.blocked() || flooding(now));
}

void LineIo::handle(const std::vector<pollfd> &fds, std::int64_t now)
{
    if (m_port->handle(fds, now)) {
        m_tx.unblock();
        if (flooding(now))
            floodSome(now);
    }
}

std::int64_t LineIo::nextDeadline(std::int64_t frameGapNs) const
{
    std::int64_t deadline = m_tx.nextDueNs();
    // A request that has to wait for the exchange in progress would only wake us in vain.
    if (takesRequests()) {
        for (const auto &[peer, framer] : m_framers)
            earliest(deadline, framer.endNs(frameGapNs));
    }
    earliest(deadline, m_floodEndNs);
    earliest(deadline, m_port->nextDeadline());
    return deadline;
}

bool LineIo::takeRequest(std::int64_t now, std::int64_t frameGapNs, Received &request)
{
    if (!takesRequests() || m_framers.empty())
        return false;
    // From the peer after the one taken last, round the table.
    auto it = m_framers.upper_bound(m_lastPeer);
    for (std::size_t n = 0; n < m_framers.size(); ++n, ++it) {
        if (it == m_framers.end())
            it = m_framers.begin();
        if (it->second.take(now, frameGapNs, request)) {
            request.peer = m_lastPeer = it->first;
            return true;
        }
    }
    return false;
}

bool LineIo::receiving() const
{
    for (const auto &[peer, framer] : m_framers) {
        if (framer.receiving())
            return true;
    }
    return false;
}

void LineIo::queueReply(std::vector<std::uint8_t> reply, std::int64_t startNs, int peer)
{
    m_tx.add(m_shaper.shape(std::move(reply)), startNs, peer, true);
}

std::int64_t LineIo::queueTraffic(std::vector<Piece> pieces, std::int64_t startNs)
{
    return m_tx.add(std::move(pieces), startNs, LinePort::Everyone, false);
}

void LineIo::writeDue(std::int64_t now, const std::function<void()> &replySent)
{
    if (!connected())
        return;
    const auto writer = [this, now](int peer, const std::uint8_t *data, std::size_t size) {
        return m_port->write(peer, data, size, now);
    };
    m_tx.writeDue(now, writer, replySent);
}

bool LineIo::sendRecord(const std::string &record, std::int64_t now)
{
    // Like a real line with nobody listening, records sent into the void are lost.
    if (!connected() || flooding(now))
        return false;
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(record.data());
    const ssize_t n = m_port->write(LinePort::Everyone, bytes, record.size(), now);
    if (n <= 0)
        return false;
    // Finish a record once started, or the reader sees a torn one.
    if (static_cast<std::size_t>(n) < record.size())
        m_tx.addRest({bytes + n, bytes + record.size()}, now, LinePort::Everyone);
    return true;
}

void LineIo::sendNoise(std::int64_t now)
{
    // Only between exchanges: never inside a request being received or a reply going out.
    if (!connected() || !m_tx.empty() || receiving() || flooding(now))
        return;
    const std::vector<std::uint8_t> burst = m_shaper.noiseBurst();
    m_port->write(LinePort::Everyone, burst.data(), burst.size(), now);
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

void LineIo::received(int peer, const std::uint8_t *data, std::size_t size, std::int64_t now)
{
    m_receivedBytes += size;
    m_framers.try_emplace(peer, m_streamed).first->second.add(data, size, now);
    if (m_echo)
        m_tx.add({{{data, data + size}, 0}}, now, peer, false);
}

void LineIo::lost(int peer)
{
    m_framers.erase(peer);
    // With nobody left, nothing queued matters; a new reader must not get it.
    if (connected())
        m_tx.forget(peer);
    else
        m_tx.clear();
}

void LineIo::floodSome(std::int64_t now)
{
    if (m_floodBytes.empty()) {
        m_floodBytes.resize(4096);
        m_shaper.fillRandom(m_floodBytes);
    }
    // Replies queued before the jam would only come out of it garbled.
    m_tx.clear();
    for (int i = 0; i < floodChunksPerTurn && connected(); ++i) {
        const ssize_t n =
            m_port->write(LinePort::Everyone, m_floodBytes.data(), m_floodBytes.size(), now);
        if (n == 0)
            return;
        if (n > 0)
            m_floodWritten += static_cast<unsigned long long>(n);
    }
}

} // namespace kcsim
