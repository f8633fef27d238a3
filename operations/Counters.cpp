#include "operations/Counters.h"

#include <limits>

namespace kc {

std::int32_t nextReceptionCount(std::int32_t count)
{
    return count == std::numeric_limits<std::int32_t>::max() ? count : count + 1;
}

std::int64_t cycleCountAtTick(std::int64_t count)
{
    return count > 65535 ? 0 : count;
}

} // namespace kc
