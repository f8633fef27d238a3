#include "RequestFramer.h"

#include <algorithm>
#include <utility>

namespace kcsim {

namespace {

constexpr std::size_t maxFrameBytes = 256;

} // namespace

void RequestFramer::add(const std::uint8_t *data, std::size_t size, std::int64_t now)
{
    // Overlong input cannot be a request; keep only the fact that it was there.
    const std::size_t room = maxFrameBytes - std::min(maxFrameBytes, m_bytes.size());
    const std::size_t take = std::min(room, size);
    m_bytes.insert(m_bytes.end(), data, data + take);
    if (take < size)
        m_overflow = true;
    m_lastNs = now;
}

std::int64_t RequestFramer::endNs(std::int64_t frameGapNs) const
{
    return receiving() ? m_lastNs + frameGapNs : -1;
}

bool RequestFramer::take(std::int64_t now, std::int64_t frameGapNs, Received &request)
{
    if (!receiving() || now < m_lastNs + frameGapNs)
        return false;
    request.bytes = std::move(m_bytes);
    request.overflow = m_overflow;
    clear();
    return true;
}

void RequestFramer::clear()
{
    m_bytes.clear();
    m_overflow = false;
}

} // namespace kcsim
