#pragma once

#include "ControlCommand.h"
#include "LineEndpoint.h"
#include "LineShaper.h"
#include "ModbusSlave.h"
#include "RegisterStore.h"
#include "SimOptions.h"

#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <vector>

namespace kcsim {

// The simulator's I/O loop: one poll() over the line, stdin and a signal pipe,
// with every timed action kept as an absolute CLOCK_MONOTONIC deadline.
class SimRunner
{
public:
    explicit SimRunner(SimOptions options);

    int run();

private:
    struct Timed
    {
        std::vector<std::uint8_t> bytes;
        std::int64_t dueNs = 0;
        bool endsReply = false;
    };

    bool openLine(std::int64_t now);
    void announce();
    std::int64_t nextDeadline() const;
    std::int64_t frameGapNs() const;
    bool flooding(std::int64_t now) const { return m_floodEndNs > now; }

    void readLine(std::int64_t now);
    void readControl(std::int64_t now);
    void runCommand(const ControlCommand &command, std::int64_t now);
    void runTimers(std::int64_t now);

    void finishFrame(std::int64_t now);
    void queueReply(std::vector<std::uint8_t> reply, std::int64_t now);
    void writeDue(std::int64_t now);
    void sendUpload(std::int64_t now);
    void sendNoise(std::int64_t now);
    void floodSome(std::int64_t now);
    void startFlood(std::int64_t now, double seconds);

    void markDisconnected(std::int64_t now);
    void checkReconnected(std::int64_t now);
    void drop();
    void restore(std::int64_t now);

    SimOptions m_options;
    RegisterStore m_store;
    ModbusSlave m_slave;
    LineShaper m_shaper;
    std::mt19937 m_driftRng;
    LineEndpoint m_line;
    Stats m_stats;

    bool m_running = true;
    bool m_connected = false;
    bool m_silent = false;
    bool m_noise = false;
    bool m_stdinOpen = true;
    std::string m_controlBuffer;

    std::vector<std::uint8_t> m_rx;
    bool m_rxOverflow = false;
    std::int64_t m_lastRxNs = 0;

    std::deque<Timed> m_tx;
    bool m_txBlocked = false;

    std::int64_t m_uploadIntervalNs = 0;
    std::int64_t m_nextUploadNs = -1;
    std::int64_t m_nextDriftNs = -1;
    std::int64_t m_nextNoiseNs = -1;
    std::int64_t m_floodEndNs = -1;
    std::int64_t m_floodStartNs = 0;
    unsigned long long m_floodWritten = 0;
    std::int64_t m_recheckNs = -1;
    std::vector<std::uint8_t> m_floodBytes;
};

} // namespace kcsim
