#pragma once

#include "ControlChannel.h"
#include "LineIo.h"
#include "LineShaper.h"
#include "ModbusSlave.h"
#include "PollLoop.h"
#include "RegisterStore.h"
#include "SimOptions.h"

#include <cstdint>
#include <random>

namespace kcsim {

// The module at run time: requests from the line go to the slave, its replies back
// out; the readings drift, records are uploaded and noise is made on their timers;
// control commands act on all of it.
class SimRunner
{
public:
    explicit SimRunner(SimOptions options);

    int run();

private:
    bool openLine(std::int64_t now);
    std::int64_t nextDeadline() const;
    std::int64_t frameGapNs() const;
    bool runCommand(const ControlCommand &command, std::int64_t now);
    void runTimers(std::int64_t now);
    void answer(Received request, std::int64_t now);
    void restartUploadPace(std::int64_t now);

    SimOptions m_options;
    RegisterStore m_store;
    ModbusSlave m_slave;
    LineShaper m_shaper;
    std::mt19937 m_driftRng;
    LineIo m_line;
    ControlChannel m_control;
    PollLoop m_loop;
    Stats m_stats;

    bool m_running = true;
    bool m_silent = false;
    bool m_noise = false;

    std::int64_t m_uploadIntervalNs = 0;
    std::int64_t m_nextUploadNs = -1;
    std::int64_t m_nextDriftNs = -1;
    std::int64_t m_nextNoiseNs = -1;
};

} // namespace kcsim
