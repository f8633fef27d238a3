#include "Crc16.h"

#include <array>

namespace kcsim {

namespace {

constexpr std::array<std::uint16_t, 256> makeTable()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned n = 0; n < 256; ++n) {
        std::uint16_t value = static_cast<std::uint16_t>(n);
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1u) ? static_cast<std::uint16_t>((value >> 1) ^ 0xA001u)
                                 : static_cast<std::uint16_t>(value >> 1);
        table[n] = value;
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> crcTable = makeTable();

std::uint16_t crc16(const std::vector<std::uint8_t> &data)
{
    std::uint16_t crc = 0xFFFF;
    for (const std::uint8_t byte : data)
        crc = static_cast<std::uint16_t>((crc >> 8) ^ crcTable[(crc ^ byte) & 0xFFu]);
    return crc;
}

} // namespace

void appendCrc(std::vector<std::uint8_t> &frame)
{
    const std::uint16_t crc = crc16(frame);
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFFu));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
}

bool hasValidCrc(const std::vector<std::uint8_t> &frame)
{
    // Running the CRC over a frame including its own (low-first) CRC leaves zero.
    return frame.size() >= 3 && crc16(frame) == 0;
}

} // namespace kcsim
