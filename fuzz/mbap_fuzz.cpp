// Any bytes arriving on a Modbus TCP stream, read as the replies to the
// request in flight, as a client's request to relay, and as one ADU to encode
// and decode again.
//
// Input: bytes 0 and 1 are the transaction in flight, the rest is the stream.

#include "FuzzChecks.h"

#include "operations/Relay.h"
#include "protocol/FrameCodec.h"
#include "protocol/Framing.h"
#include "protocol/Mbap.h"

#include <cstddef>
#include <cstdint>

using fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const auto transaction = std::uint16_t(data[0] << 8 | data[1]);
    const QByteArray stream(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));

    const kc::MbapSplit split = kc::splitMbap(stream);
    require(split.size <= stream.size(), "an ADU longer than the stream");
    if (split.state == kc::MbapSplit::State::Whole) {
        require(kc::encodeMbap(split.adu) == stream.left(split.size),
                "a decoded ADU that does not encode to its bytes");
        // A client's request, as the gateway's server takes it: sent as asked
        // or answered with an exception of its own.
        const auto relayed = kc::relayedRequest(1, split.adu.pdu, true);
        if (const int *code = std::get_if<int>(&relayed))
            require(*code >= 1 && *code <= 3, "a refusal without its exception code");
        else
            require(kc::rtuFromAdu({0, 1, split.adu.pdu}) == std::get<kc::Request>(relayed).frame(),
                    "a relayed request that is not what the client asked");
    }

    // Every reply in turn, as the link reads them.
    QByteArray rest = stream;
    for (;;) {
        const kc::MbapReply reply = kc::readMbapReply(rest, transaction);
        require(reply.size <= rest.size(), "a reply claims more bytes than it was given");
        if (reply.kind == kc::MbapReply::Kind::Partial) {
            require(reply.size == 0, "a partial reply takes bytes");
            break;
        }
        require(reply.size > 0, "a reply that takes nothing");
        if (reply.kind == kc::MbapReply::Kind::Answer) {
            const kc::MbapSplit whole = kc::splitMbap(rest);
            require(whole.state == kc::MbapSplit::State::Whole && whole.size == reply.size &&
                        whole.adu.transaction == transaction,
                    "an answer that is not a whole ADU of the transaction in flight");
            require(kc::crcHolds(reply.rtu, int(reply.rtu.size())) &&
                        reply.rtu.size() == whole.adu.pdu.size() + 3,
                    "an answer without its RTU frame");
            const int announced = kc::replyFrameLength(reply.rtu);
            require(announced <= 0 || announced == reply.rtu.size(),
                    "an answer whose length disagrees with its function");
        }
        rest.remove(0, reply.size);
    }

    // The input as an ADU of its own: encoded, it splits back into itself,
    // and its RTU frame carries it back unchanged.
    if (stream.size() >= 2) {
        const kc::MbapAdu adu{transaction, std::uint8_t(stream[0]), stream.mid(1, kc::maxPduSize)};
        const kc::MbapSplit again = kc::splitMbap(kc::encodeMbap(adu) + stream);
        require(again.state == kc::MbapSplit::State::Whole && again.adu == adu &&
                    again.size == kc::mbapHeaderSize + adu.pdu.size(),
                "an encoded ADU that does not decode to itself");
        const auto carried = kc::aduFromRtu(transaction, kc::rtuFromAdu(adu));
        require(carried && *carried == adu, "an ADU changed by its RTU frame");
    }
    return 0;
}
