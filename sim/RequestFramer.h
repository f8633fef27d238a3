#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace kcsim {

// What arrived up to a silence, and whether it was more than any request can be.
struct Received
{
    std::vector<std::uint8_t> bytes;
    bool overflow = false;
    int peer = 0; // who sent it, where the line has several peers
};

// Cuts the bytes arriving on the line into requests: a request ends where the line
// has been silent for the frame gap.
class RequestFramer
{
public:
    // byLength: bytes come without timing of their own (a TCP stream), so a request
    // whose function gives its length ends once that many bytes are in, however
    // they were cut or joined, and waits for a late piece well beyond the frame gap.
    explicit RequestFramer(bool byLength = false) : m_byLength(byLength) {}

    void add(const std::uint8_t *data, std::size_t size, std::int64_t now);
    bool receiving() const { return !m_bytes.empty() || !m_complete.empty(); }
    // When the request being received ends, -1 when none is.
    std::int64_t endNs(std::int64_t frameGapNs) const;
    bool take(std::int64_t now, std::int64_t frameGapNs, Received &request);
    void clear();

private:
    std::int64_t silenceNs(std::int64_t frameGapNs) const;

    bool m_byLength;
    std::vector<std::uint8_t> m_bytes;
    bool m_overflow = false;
    std::int64_t m_lastNs = 0;
    std::deque<Received> m_complete; // requests ended by their length, in order
};

} // namespace kcsim
