#pragma once

#include "Bus.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kcsim {

// A second master on the line, polling the modules on its own, so a tool that only
// listens hears requests and replies it never asked for.
class OtherMaster
{
public:
    // stations: whom it polls in turn; empty: every module on the bus.
    OtherMaster(std::vector<int> stations, const Bus &bus);

    // The next request of its round: mostly reads of every register, some of the
    // first two, now and then a write of the word register 5 already holds, and
    // one to a station nobody answers.
    std::vector<std::uint8_t> nextRequest(const Bus &bus);

private:
    std::vector<int> m_stations;
    int m_nobody = 99;
    std::size_t m_turn = 0;
    std::size_t m_next = 0; // the station polled next
};

} // namespace kcsim
