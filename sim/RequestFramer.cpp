#include "RequestFramer.h"

#include <algorithm>
#include <utility>

namespace kcsim {

namespace {

constexpr std::size_t maxFrameBytes = 256;
// How long a request whose length is known waits for the rest of it on a stream.
constexpr std::int64_t latePieceNs = 1'000'000'000;

// The length the function code gives a request: 0 while too little is in to tell,
// -1 for a function whose requests have no fixed shape.
long requestLength(const std::vector<std::uint8_t> &bytes)
{
    if (bytes.size() < 2)
        return 0;
    switch (bytes[1]) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x06:
    case 0x26:
        return 8;
    case 0x0F:
    case 0x10:
        // Station, function, start, count, byte count, the data, two CRC bytes.
        return bytes.size() < 7 ? 0 : 9 + bytes[6];
    default:
        return -1;
    }
}

} // namespace

void RequestFramer::add(const std::uint8_t *data, std::size_t size, std::int64_t now)
{
    m_bytes.insert(m_bytes.end(), data, data + size);
    m_lastNs = now;
    for (long length; m_byLength && (length = requestLength(m_bytes)) > 0 &&
                      m_bytes.size() >= static_cast<std::size_t>(length);) {
        const auto end = m_bytes.begin() + length;
        m_complete.push_back({{m_bytes.begin(), end}, false, 0});
        m_bytes.erase(m_bytes.begin(), end);
    }
    // Overlong input cannot be a request; keep only the fact that it was there.
    if (m_bytes.size() > maxFrameBytes) {
        m_bytes.resize(maxFrameBytes);
        m_overflow = true;
    }
}

std::int64_t RequestFramer::silenceNs(std::int64_t frameGapNs) const
{
    return m_byLength && requestLength(m_bytes) >= 0 ? std::max(frameGapNs, latePieceNs)
                                                     : frameGapNs;
}

std::int64_t RequestFramer::endNs(std::int64_t frameGapNs) const
{
    if (!m_complete.empty())
        return m_lastNs;
    return m_bytes.empty() ? -1 : m_lastNs + silenceNs(frameGapNs);
}

bool RequestFramer::take(std::int64_t now, std::int64_t frameGapNs, Received &request)
{
    if (!m_complete.empty()) {
        request = std::move(m_complete.front());
        m_complete.pop_front();
        return true;
    }
    if (m_bytes.empty() || now < m_lastNs + silenceNs(frameGapNs))
        return false;
    request.bytes = std::move(m_bytes);
    request.overflow = m_overflow;
    m_bytes.clear();
    m_overflow = false;
    return true;
}

void RequestFramer::clear()
{
    m_bytes.clear();
    m_overflow = false;
    m_complete.clear();
}

} // namespace kcsim
