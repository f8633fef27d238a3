// Any bytes arriving as the reply to any request, judged at the deadline, and
// the same bytes as upload records.
//
// Input: byte 0 picks the request, bytes 1 and 2 its station and start, the
// rest is what arrived.

#include "FuzzChecks.h"

#include "operations/Outcomes.h"
#include "operations/RegisterMap.h"
#include "operations/Replies.h"
#include "protocol/FrameCodec.h"
#include "protocol/Framing.h"

#include <cstddef>
#include <cstdint>

using fuzz::require;
using kc::Request;
using kc::RequestKind;

namespace {

Request requestOf(std::uint8_t pick, std::uint8_t station, std::uint8_t start)
{
    switch (pick % 5) {
    case 0:
        return Request::registerRead(station, start % 20, 1 + start % 15, 3 + pick / 128);
    case 1:
        return Request::registerWrite(station, 3 + start % 12, std::uint16_t(start * 257));
    case 2:
        return Request::addressRead();
    case 3:
        return Request::addressChange(station, 1 + start % 250);
    default:
        return Request::deviceInfo(station);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 3)
        return 0;
    const Request asked = requestOf(data[0], data[1], data[2]);
    const QByteArray bytes(reinterpret_cast<const char *>(data + 3), qsizetype(size - 3));

    const auto outcome = kc::judgeReply(asked, bytes, true);
    require(outcome.has_value(), "no outcome at the deadline");
    require(outcome->request == asked, "an outcome without its request");
    if (outcome->answered()) {
        // Only a whole frame whose CRC holds, from the station and for the function
        // asked; an address change may also be the module's own six-byte layout,
        // but then only one that names the new address.
        const bool ownLayout = asked.kind == RequestKind::AddressChange &&
                               outcome->frame.size() == 6 &&
                               std::uint8_t(outcome->frame[3]) == asked.newAddress;
        require(ownLayout || kc::crcHolds(outcome->frame, int(outcome->frame.size())),
                "answered without a good frame");
        require(ownLayout || outcome->function == asked.function,
                "answered for another function");
        require(asked.kind == RequestKind::AddressRead || asked.kind == RequestKind::AddressChange ||
                    outcome->station == asked.station,
                "answered from another station");
    }
    const QVector<kc::RegisterValue> values = kc::registerValues(*outcome);
    require(values.isEmpty() || (outcome->answered() && asked.kind == RequestKind::RegisterRead),
            "values from anything but an answered register read");
    for (int i = 0; i < values.size(); ++i)
        require(values[i].row == asked.start + i && values[i].row < kc::registerCount,
                "a value outside its row");
    if (const auto address = kc::confirmedAddress(*outcome))
        require(*address >= 1 && *address <= 250, "an address no module can have");
    if (const auto text = kc::deviceTextOf(*outcome))
        require(asked.kind == RequestKind::DeviceInfo && text->size() == 11,
                "device text outside its request or not eleven characters");

    kc::UploadFramer framer;
    for (const QByteArray &record : framer.feed(bytes).records)
        require(record.size() == kc::UploadFramer::recordLength && record.front() == '[' &&
                    record.back() == ']',
                "an upload record that is not one");
    return 0;
}
