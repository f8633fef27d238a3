#pragma once

#include "Bus.h"
#include "ControlChannel.h"
#include "LineIo.h"
#include "LineShaper.h"
#include "OtherMaster.h"
#include "PollLoop.h"
#include "SimOptions.h"

#include <cstdint>
#include <vector>

namespace kcsim {

// The modules at run time: requests from the line go to them, their replies back
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
    // One exchange of the other master: its request, then the modules' reply.
    void pollAsOtherMaster(std::int64_t now);
    // Nothing in the way of an upload or the other master's next exchange.
    bool lineIdle(std::int64_t now) const;
    void restartUploadPace(std::size_t module, std::int64_t now);
    // The modules a control command names: those at station, or all for -1.
    std::vector<std::size_t> chosen(int station);

    struct UploadPace
    {
        std::int64_t intervalNs = 0;
        std::int64_t nextNs = -1;
    };

    SimOptions m_options;
    Bus m_bus;
    LineShaper m_shaper;
    LineIo m_line;
    ControlChannel m_control;
    PollLoop m_loop;
    Stats m_stats;

    bool m_running = true;
    bool m_silent = false;
    bool m_noise = false;

    std::vector<UploadPace> m_uploads; // one per module
    std::int64_t m_nextDriftNs = -1;
    std::int64_t m_nextNoiseNs = -1;
    OtherMaster m_otherMaster;
    std::int64_t m_nextMasterNs = -1;
};

} // namespace kcsim
