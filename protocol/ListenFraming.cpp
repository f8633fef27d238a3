#include "protocol/ListenFraming.h"

#include "protocol/FrameCodec.h"
#include "protocol/Framing.h"

namespace kc {

int requestFrameLength(const QByteArray &head)
{
    if (head.size() < 2)
        return 0;
    // Only functions whose reply length is known too: a request is cut here to
    // await its reply.
    switch (std::uint8_t(head[1])) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x06:
    case 0x26: // the module's device information
        return 8;
    case 0x0F:
    case 0x10:
        // Station, function, start, count, byte count, the data, two CRC bytes.
        return head.size() < 7 ? 0 : 9 + std::uint8_t(head[6]);
    default:
        return -1;
    }
}

LineFramer::LineFramer(double silenceMs, double patienceMs)
    : m_silenceMs(silenceMs), m_patienceMs(patienceMs)
{
}

QVector<HeardFrame> LineFramer::feed(const QByteArray &bytes, double now)
{
    if (bytes.isEmpty())
        return {};
    m_held += bytes;
    m_arrivals.push_back({m_held.size(), now});
    m_lastAt = now;
    return extract(false);
}

QVector<HeardFrame> LineFramer::idle(double now)
{
    if (m_held.isEmpty() || now < cutAt())
        return {};
    return extract(true);
}

double LineFramer::cutAt() const
{
    if (m_held.isEmpty())
        return -1;
    Cut cut;
    return m_lastAt + (judgeAt(0, cut) == Head::MayHold ? m_patienceMs : m_silenceMs);
}

bool LineFramer::fromAwaitedStation(int station) const
{
    // The station-250 read is answered from the module's own address.
    return m_awaitStation >= 0 &&
           (station == m_awaitStation || (m_awaitStation == 250 && station >= 1 && station <= 250));
}

bool LineFramer::awaitedReply(const QByteArray &view, bool fromStation) const
{
    const int function = std::uint8_t(view[1]);
    return (!fromStation || fromAwaitedStation(std::uint8_t(view[0]))) &&
           (function == m_awaitFunction || function == (m_awaitFunction | 0x80));
}

LineFramer::Head LineFramer::judgeAt(qsizetype at, Cut &cut) const
{
    // Looked at where it lies: a search runs over every offset of what is held.
    const QByteArray view = QByteArray::fromRawData(m_held.constData() + at, m_held.size() - at);
    bool mayHold = false;
    const auto check = [&](int length, HeardFrame::Role role) {
        if (length == 0 || (length > 0 && view.size() < length)) {
            mayHold = true;
            return false;
        }
        if (length < 0 || !crcHolds(view, length))
            return false;
        cut = {length, role};
        return true;
    };
    // The awaited reply first: a write's reply repeats its request byte for byte.
    const int reply = replyFrameLength(view);
    const bool awaiting = m_awaitStation >= 0;
    if (awaiting && (reply == 0 || awaitedReply(view, true)) &&
        check(reply, HeardFrame::Role::Reply))
        return Head::Holds;
    if (check(requestFrameLength(view), HeardFrame::Role::Request))
        return Head::Holds;
    // A reply from another station (two at one address, a wrong address), or
    // to a request heard before listening began.
    if ((!awaiting || (reply > 0 && awaitedReply(view, false))) &&
        check(reply, HeardFrame::Role::Reply))
        return Head::Holds;
    return mayHold ? Head::MayHold : Head::Never;
}

QVector<HeardFrame> LineFramer::extract(bool silence)
{
    QVector<HeardFrame> out;
    while (!m_held.isEmpty()) {
        Cut cut;
        const Head head = judgeAt(0, cut);
        if (head == Head::Holds) {
            take(out, cut.length, cut.role, true);
            continue;
        }
        if (head == Head::MayHold && !silence)
            break;
        // The head never becomes a frame: what lies before the next frame
        // that holds is one damaged piece. Offsets once found never to begin
        // one are not looked at again as bytes keep coming.
        qsizetype next = m_neverBefore;
        for (Head at; next < m_held.size() && (at = judgeAt(next, cut)) != Head::Holds; ++next) {
            if (at == Head::Never && next == m_neverBefore)
                ++m_neverBefore;
        }
        if (next == m_held.size() && !silence) {
            if (m_held.size() > heldMax)
                take(out, int(m_held.size()) - frameMost, HeardFrame::Role::Noise, false);
            break;
        }
        // A damaged piece that begins like the awaited reply is that reply.
        const bool replyLike = fromAwaitedStation(std::uint8_t(m_held[0]));
        take(out, int(next), replyLike ? HeardFrame::Role::Reply : HeardFrame::Role::Noise, false);
    }
    return out;
}

void LineFramer::take(QVector<HeardFrame> &out, int length, HeardFrame::Role role, bool crcOk)
{
    HeardFrame frame{m_held.left(length), role, crcOk, m_lastAt};
    for (const auto &[end, at] : std::as_const(m_arrivals)) {
        if (end >= length) {
            frame.at = at;
            break;
        }
    }
    m_held.remove(0, length);
    m_neverBefore = 1;
    qsizetype gone = 0;
    for (auto &arrival : m_arrivals) {
        arrival.first -= length;
        gone += arrival.first <= 0;
    }
    m_arrivals.remove(0, gone);
    if (role == HeardFrame::Role::Request) {
        // A broadcast is answered by nobody.
        const int station = std::uint8_t(frame.bytes[0]);
        m_awaitStation = station == 0 ? -1 : station;
        m_awaitFunction = std::uint8_t(frame.bytes[1]);
    } else if (role == HeardFrame::Role::Reply) {
        m_awaitStation = -1;
    }
    out.push_back(frame);
}

} // namespace kc
