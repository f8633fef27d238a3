#pragma once

#include <QByteArray>

#include <cstdint>
#include <optional>

namespace kc {

// Modbus TCP carries a PDU (function code and data) behind a seven-byte header:
// transaction id, protocol id 0, the length of what follows (unit id and PDU),
// the unit id. No checksum: TCP keeps the bytes whole.
inline constexpr int mbapHeaderSize = 7;
inline constexpr int maxPduSize = 253;

struct MbapAdu
{
    std::uint16_t transaction = 0;
    std::uint8_t unit = 0;
    QByteArray pdu;

    bool operator==(const MbapAdu &o) const
    {
        return transaction == o.transaction && unit == o.unit && pdu == o.pdu;
    }
};

// The header and the PDU, ready to send; a request or a reply alike.
QByteArray encodeMbap(const MbapAdu &adu);

// The first ADU of a stream. Broken: a protocol id other than 0 or a length
// no ADU can have; the stream has lost step and nothing in it can be trusted.
struct MbapSplit
{
    enum class State { Partial, Whole, Broken };
    State state = State::Partial;
    int size = 0; // bytes the ADU takes from the stream, once whole
    MbapAdu adu;  // once whole
};
MbapSplit splitMbap(const QByteArray &stream);

// The ADU that carries an RTU frame (station, PDU, CRC): the station as unit
// id, the CRC left behind. Nothing for a frame too short to hold a function.
std::optional<MbapAdu> aduFromRtu(std::uint16_t transaction, const QByteArray &frame);
// The RTU frame an ADU stands for: the unit id as station, the PDU, its CRC.
QByteArray rtuFromAdu(const MbapAdu &adu);

// What the head of a client's stream holds for the request in flight. An
// answer is handed on as the RTU frame it stands for, so replies over both
// framings are judged by one rule. No answer: a whole ADU of another
// transaction, or a length that disagrees with what the PDU's own function and
// byte count announce (then the stream is out of step and all of it goes).
struct MbapReply
{
    enum class Kind { Partial, Answer, NoAnswer };
    Kind kind = Kind::Partial;
    int size = 0;   // stream bytes it takes
    QByteArray rtu; // of an answer
};
MbapReply readMbapReply(const QByteArray &stream, std::uint16_t transaction);

} // namespace kc
