#pragma once

#include "LineEndpoint.h"
#include "LineShaper.h"
#include "RequestFramer.h"
#include "TransmitQueue.h"

#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kcsim {

// The module's end of the line at run time: whether anybody has it open, bytes in
// to the framer, and bytes out, replies through the queue, records, noise and
// floods, all written under one policy (see write()).
class LineIo
{
public:
    LineIo(std::string device, std::string link, LineShaper &shaper);

    // Opens (again); nobody counts as connected until the next check says so.
    bool open(int baud, std::int64_t now, std::string &error);
    // Like an unplugged adapter: the line closes, its link goes, nothing is pending.
    void drop();
    const LineEndpoint &endpoint() const { return m_endpoint; }
    bool connected() const { return m_connected; }

    // What poll() should wait for on the line; 0 when it is not to be watched.
    short events(std::int64_t now) const;
    void handle(short revents, std::int64_t now);
    // The earliest moment the line needs a turn, -1 for none.
    std::int64_t nextDeadline(std::int64_t frameGapNs) const;
    // Looks again, once due, whether somebody opened the line.
    void recheck(std::int64_t now);

    bool takeRequest(std::int64_t now, std::int64_t frameGapNs, Received &request)
    {
        return m_framer.take(now, frameGapNs, request);
    }
    bool sending() const { return !m_tx.empty(); }
    // Shapes the reply and queues it to start at startNs, after anything queued before.
    void queueReply(std::vector<std::uint8_t> reply, std::int64_t startNs);
    void writeDue(std::int64_t now, const std::function<void()> &replySent);
    // False when the record could not start; once started it is always finished.
    bool sendRecord(const std::string &record, std::int64_t now);
    // A noise burst, only between exchanges.
    void sendNoise(std::int64_t now);

    bool flooding(std::int64_t now) const { return m_floodEndNs > now; }
    void startFlood(std::int64_t now, double seconds);
    // The report line once a flood is over, empty otherwise.
    std::string floodReport(std::int64_t now);

private:
    ssize_t write(const std::uint8_t *data, std::size_t size, std::int64_t now);
    void readAvailable(std::int64_t now);
    void floodSome(std::int64_t now);
    void lost(std::int64_t now);

    LineEndpoint m_endpoint;
    LineShaper &m_shaper;
    RequestFramer m_framer;
    TransmitQueue m_tx;
    bool m_connected = false;
    std::int64_t m_recheckNs = -1;

    std::int64_t m_floodEndNs = -1;
    std::int64_t m_floodStartNs = 0;
    unsigned long long m_floodWritten = 0;
    std::vector<std::uint8_t> m_floodBytes;
};

} // namespace kcsim
