#pragma once

#include <cstdint>

namespace kc {

// The reception count (events of the line) stops at the top of its 32-bit range.
std::int32_t nextReceptionCount(std::int32_t count);

// The cycle count grows by one for every validated read; a polling tick starts
// it over at 0 once it has passed 65535.
std::int64_t cycleCountAtTick(std::int64_t count);

} // namespace kc
