#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kcsim {

// What arrived up to a silence, and whether it was more than any request can be.
struct Received
{
    std::vector<std::uint8_t> bytes;
    bool overflow = false;
};

// Cuts the bytes arriving on the line into requests: a request ends where the line
// has been silent for the frame gap.
class RequestFramer
{
public:
    void add(const std::uint8_t *data, std::size_t size, std::int64_t now);
    bool receiving() const { return !m_bytes.empty(); }
    // When the request being received ends, -1 when none is.
    std::int64_t endNs(std::int64_t frameGapNs) const;
    bool take(std::int64_t now, std::int64_t frameGapNs, Received &request);
    void clear();

private:
    std::vector<std::uint8_t> m_bytes;
    bool m_overflow = false;
    std::int64_t m_lastNs = 0;
};

} // namespace kcsim
