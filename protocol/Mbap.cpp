#include "protocol/Mbap.h"

#include "protocol/FrameCodec.h"
#include "protocol/Framing.h"

namespace kc {

namespace {

std::uint16_t wordAt(const QByteArray &bytes, int at)
{
    return std::uint16_t(std::uint8_t(bytes[at]) << 8 | std::uint8_t(bytes[at + 1]));
}

void appendWord(QByteArray &bytes, std::uint16_t word)
{
    bytes += char(word >> 8);
    bytes += char(word & 0xFF);
}

} // namespace

QByteArray encodeMbap(const MbapAdu &adu)
{
    QByteArray bytes;
    bytes.reserve(mbapHeaderSize + adu.pdu.size());
    appendWord(bytes, adu.transaction);
    appendWord(bytes, 0);
    appendWord(bytes, std::uint16_t(adu.pdu.size() + 1));
    bytes += char(adu.unit);
    bytes += adu.pdu;
    return bytes;
}

MbapSplit splitMbap(const QByteArray &stream)
{
    MbapSplit split;
    const int n = int(stream.size());
    if (n >= 4 && wordAt(stream, 2) != 0) {
        split.state = MbapSplit::State::Broken;
        return split;
    }
    if (n < 6)
        return split;
    // A unit id and a function at least; a PDU of at most 253 bytes.
    const int length = wordAt(stream, 4);
    if (length < 2 || length > maxPduSize + 1) {
        split.state = MbapSplit::State::Broken;
        return split;
    }
    if (n < 6 + length)
        return split;
    split.state = MbapSplit::State::Whole;
    split.size = 6 + length;
    split.adu = {wordAt(stream, 0), std::uint8_t(stream[6]), stream.mid(7, length - 1)};
    return split;
}

std::optional<MbapAdu> aduFromRtu(std::uint16_t transaction, const QByteArray &frame)
{
    if (frame.size() < 4 || frame.size() - 3 > maxPduSize)
        return std::nullopt;
    return MbapAdu{transaction, std::uint8_t(frame[0]), frame.mid(1, frame.size() - 3)};
}

QByteArray rtuFromAdu(const MbapAdu &adu)
{
    QByteArray frame = char(adu.unit) + adu.pdu;
    const std::uint16_t crc = crc16Value(frame.constData(), int(frame.size()));
    frame += char(crc & 0xFF);
    frame += char(crc >> 8);
    return frame;
}

MbapReply readMbapReply(const QByteArray &stream, std::uint16_t transaction)
{
    const int n = int(stream.size());
    const MbapSplit split = splitMbap(stream);
    if (split.state == MbapSplit::State::Broken)
        return {MbapReply::Kind::NoAnswer, n, {}};
    // Unit id, function and byte count tell the RTU frame's length, two CRC
    // bytes more than what the header's length counts. Judged as soon as they
    // are in: a length that lies would otherwise hold the stream until more
    // bytes came, or swallow the start of the next reply. A whole ADU too short
    // to tell lies as much.
    if (n > mbapHeaderSize) {
        const bool whole = split.state == MbapSplit::State::Whole;
        const int announced =
            replyFrameLength(stream.mid(mbapHeaderSize - 1, whole ? split.size - 6 : 3));
        if ((announced > 0 && announced - 2 != wordAt(stream, 4)) || (whole && announced == 0))
            return {MbapReply::Kind::NoAnswer, n, {}};
    }
    if (split.state == MbapSplit::State::Partial)
        return {};
    if (split.adu.transaction != transaction)
        return {MbapReply::Kind::NoAnswer, split.size, {}};
    return {MbapReply::Kind::Answer, split.size, rtuFromAdu(split.adu)};
}

} // namespace kc
