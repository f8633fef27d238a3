#include "OtherMaster.h"

#include "Crc16.h"

#include <algorithm>
#include <utility>

namespace kcsim {

namespace {

enum class Ask { All, FirstTwo, Rewrite, Nobody };
constexpr Ask round[] = {Ask::All,     Ask::All, Ask::FirstTwo, Ask::All,
                         Ask::Rewrite, Ask::All, Ask::Nobody,   Ask::FirstTwo};
constexpr int rewritten = reg::TemperatureUpper;

std::vector<std::uint8_t> request(int station, std::uint8_t function, int address, int word)
{
    std::vector<std::uint8_t> frame{
        static_cast<std::uint8_t>(station),      function,
        static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address & 0xFF),
        static_cast<std::uint8_t>(word >> 8),    static_cast<std::uint8_t>(word & 0xFF)};
    appendCrc(frame);
    return frame;
}

} // namespace

OtherMaster::OtherMaster(std::vector<int> stations, const Bus &bus)
    : m_stations(std::move(stations))
{
    if (m_stations.empty()) {
        for (const Module &module : bus.modules()) {
            if (std::count(m_stations.begin(), m_stations.end(), module.setup.address) == 0)
                m_stations.push_back(module.setup.address);
        }
    }
    // From 99 on, the first station that is neither on the line nor polled.
    for (int n = 0; n < 247; ++n) {
        const int station = 1 + (98 + n) % 247;
        if (bus.at(station).empty() &&
            std::count(m_stations.begin(), m_stations.end(), station) == 0) {
            m_nobody = station;
            break;
        }
    }
}

std::vector<std::uint8_t> OtherMaster::nextRequest(const Bus &bus)
{
    const Ask ask = round[m_turn++ % std::size(round)];
    if (ask == Ask::Nobody)
        return request(m_nobody, modbus::ReadHolding, 0, reg::Count);
    const int station = m_stations[m_next++ % m_stations.size()];
    const std::vector<std::size_t> modules = bus.at(station);
    if (ask == Ask::Rewrite && !modules.empty())
        return request(station, modbus::WriteSingle,
                       modbus::FirstWritable + 2 * (rewritten - reg::TemperatureOffset),
                       bus.modules()[modules.front()].store.word(rewritten));
    return request(station, modbus::ReadHolding, 0, ask == Ask::FirstTwo ? 2 : reg::Count);
}

} // namespace kcsim
