#pragma once

#include "LineShaper.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <sys/types.h>
#include <vector>

namespace kcsim {

// Bytes waiting for their moment on the line, in order: the timed pieces of shaped
// replies and of other traffic, and the rest of anything the line had no room for.
// Each piece is for one peer of the line, or for every one (-1).
class TransmitQueue
{
public:
    // Bytes written, 0 when the line is full, -1 when it is lost.
    using Writer = std::function<ssize_t(int peer, const std::uint8_t *, std::size_t)>;

    bool empty() const { return m_pieces.empty(); }
    bool blocked() const { return m_blocked; }
    void unblock() { m_blocked = false; }
    void clear();
    // What was meant for a peer that has gone.
    void forget(int peer);

    // Pieces starting at startNs but never before what is queued already; a reply's
    // end is reported by writeDue(). Returns when the last piece is due.
    std::int64_t add(std::vector<Piece> pieces, std::int64_t startNs, int peer, bool reply);
    // What the line did not take, to go first once it has room again.
    void addRest(std::vector<std::uint8_t> bytes, std::int64_t now, int peer);

    // When the next piece is due; -1 when none is or the line is full.
    std::int64_t nextDueNs() const;
    // Writes the pieces due; replySent runs as each reply's last byte is written.
    void writeDue(std::int64_t now, const Writer &write, const std::function<void()> &replySent);

private:
    struct Timed
    {
        std::vector<std::uint8_t> bytes;
        std::int64_t dueNs = 0;
        int peer = -1;
        bool endsReply = false;
    };

    std::deque<Timed> m_pieces;
    bool m_blocked = false;
};

} // namespace kcsim
