#pragma once

#include "LinePort.h"
#include "LineShaper.h"
#include "RequestFramer.h"
#include "TransmitQueue.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kcsim {

// The module's end of the line at run time, over a port: bytes in from each peer to
// its own framer, and bytes out, replies through the queue, records, noise and
// floods, all written under the port's one policy.
class LineIo : private PortListener
{
public:
    // streamed: the port's input is a stream (TCP) rather than a timed line, so
    // requests are framed by their length, and taken one at a time as a device
    // server puts them on its line.
    LineIo(std::unique_ptr<LinePort> port, LineShaper &shaper, bool streamed);

    // Opens (again); nobody counts as connected until somebody is.
    bool open(int baud, std::int64_t now, std::string &error);
    // Like an unplugged adapter: the line closes, its link goes, nothing is pending.
    void drop();
    // Sends every client away, the line stays open; false when there are no clients.
    bool kick() { return m_port->kick(); }
    const LinePort &port() const { return *m_port; }
    bool connected() const { return m_port->connected(); }

    void watch(std::vector<pollfd> &fds, std::int64_t now);
    void handle(const std::vector<pollfd> &fds, std::int64_t now);
    // The earliest moment the line needs a turn, -1 for none.
    std::int64_t nextDeadline(std::int64_t frameGapNs) const;
    void recheck(std::int64_t now) { m_port->recheck(now); }

    // A request from some peer, taking turns among them.
    bool takeRequest(std::int64_t now, std::int64_t frameGapNs, Received &request);
    bool receiving() const;
    bool sending() const { return !m_tx.empty(); }
    // Shapes the reply and queues it for peer to start at startNs, after anything queued before.
    void queueReply(std::vector<std::uint8_t> reply, std::int64_t startNs, int peer);
    // Queues pieces for every peer, not as a reply of ours; returns when the last is due.
    std::int64_t queueTraffic(std::vector<Piece> pieces, std::int64_t startNs);
    void writeDue(std::int64_t now, const std::function<void()> &replySent);
    // False when the record could not start; once started it is always finished.
    bool sendRecord(const std::string &record, std::int64_t now);
    // A noise burst, only between exchanges.
    void sendNoise(std::int64_t now);
    // Each peer gets back what it sends, as through an adapter that hears itself.
    void setEcho(bool on) { m_echo = on; }
    unsigned long long receivedBytes() const { return m_receivedBytes; }

    bool flooding(std::int64_t now) const { return m_floodEndNs > now; }
    void startFlood(std::int64_t now, double seconds);
    // The report line once a flood is over, empty otherwise.
    std::string floodReport(std::int64_t now);

private:
    void received(int peer, const std::uint8_t *data, std::size_t size, std::int64_t now) override;
    void lost(int peer) override;
    void floodSome(std::int64_t now);
    // A streamed line waits for one exchange to end before it takes the next request.
    bool takesRequests() const { return !m_streamed || m_tx.empty(); }

    std::unique_ptr<LinePort> m_port;
    LineShaper &m_shaper;
    bool m_streamed;
    std::map<int, RequestFramer> m_framers; // one per peer that sent something
    int m_lastPeer = -1;                    // the peer taken last, so the others go first
    TransmitQueue m_tx;
    bool m_echo = false;
    unsigned long long m_receivedBytes = 0;

    std::int64_t m_floodEndNs = -1;
    std::int64_t m_floodStartNs = 0;
    unsigned long long m_floodWritten = 0;
    std::vector<std::uint8_t> m_floodBytes;
};

} // namespace kcsim
