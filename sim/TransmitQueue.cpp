#include "TransmitQueue.h"

#include <algorithm>
#include <utility>

namespace kcsim {

void TransmitQueue::clear()
{
    m_pieces.clear();
    m_blocked = false;
}

void TransmitQueue::forget(int peer)
{
    m_pieces.erase(std::remove_if(m_pieces.begin(), m_pieces.end(),
                                  [peer](const Timed &piece) { return piece.peer == peer; }),
                   m_pieces.end());
}

std::int64_t TransmitQueue::add(std::vector<Piece> pieces, std::int64_t startNs, int peer,
                                bool reply)
{
    if (!m_pieces.empty())
        startNs = std::max(startNs, m_pieces.back().dueNs);
    if (pieces.empty())
        return startNs;
    for (Piece &piece : pieces)
        m_pieces.push_back({std::move(piece.bytes), startNs + piece.offsetNs, peer, false});
    m_pieces.back().endsReply = reply;
    return m_pieces.back().dueNs;
}

void TransmitQueue::addRest(std::vector<std::uint8_t> bytes, std::int64_t now, int peer)
{
    m_pieces.push_back({std::move(bytes), now, peer, false});
    m_blocked = true;
}

std::int64_t TransmitQueue::nextDueNs() const
{
    return m_pieces.empty() || m_blocked ? -1 : m_pieces.front().dueNs;
}

void TransmitQueue::writeDue(std::int64_t now, const Writer &write,
                             const std::function<void()> &replySent)
{
    while (!m_blocked && !m_pieces.empty() && m_pieces.front().dueNs <= now) {
        Timed &piece = m_pieces.front();
        const ssize_t n = write(piece.peer, piece.bytes.data(), piece.bytes.size());
        if (n < 0)
            return; // the line is gone, and what was queued with it
        if (static_cast<std::size_t>(n) < piece.bytes.size()) {
            piece.bytes.erase(piece.bytes.begin(), piece.bytes.begin() + n);
            m_blocked = true;
            return;
        }
        const bool replyDone = piece.endsReply;
        m_pieces.pop_front();
        if (replyDone)
            replySent();
    }
}

} // namespace kcsim
