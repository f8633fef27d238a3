#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kcsim {

// CRC-16 as used on the Modbus RTU line: init 0xFFFF, reflected polynomial 0xA001.

// Appends the CRC low byte first, the order it travels on the wire.
void appendCrc(std::vector<std::uint8_t> &frame);

// True when the last two bytes are the CRC of everything before them.
bool hasValidCrc(const std::vector<std::uint8_t> &frame);

} // namespace kcsim
