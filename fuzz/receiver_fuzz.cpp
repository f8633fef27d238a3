// Any bytes arriving as the reply to any request kind, with any start box.
//
// Input: byte 0 picks the request kind, byte 1 the length of the start box
// text that follows (Latin-1), the rest is the delivery.

#include "FuzzChecks.h"

#include "operations/NumberText.h"
#include "operations/Outcomes.h"
#include "operations/RegisterMap.h"
#include "operations/Replies.h"
#include "protocol/FrameCodec.h"
#include "protocol/Framing.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

using fuzz::require;
using kc::RequestKind;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const RequestKind kinds[] = {RequestKind::None,    RequestKind::RegisterRead,
                                 RequestKind::Upload,  RequestKind::AddressChange,
                                 RequestKind::Station, RequestKind::DeviceInfo};
    const RequestKind kind = kinds[data[0] % 6];
    const std::size_t textLength = std::min<std::size_t>(data[1], size - 2);
    const QString startText =
        QString::fromLatin1(reinterpret_cast<const char *>(data + 2), qsizetype(textLength));
    const QByteArray bytes(reinterpret_cast<const char *>(data + 2 + textLength),
                           qsizetype(size - 2 - textLength));

    const int start = kc::startRegisterOf(startText);
    kc::UploadFramer framer;
    const kc::Delivery d = kc::decodeDelivery(kind, bytes, start, &framer);
    require(d.hex.size() == 3 * bytes.size(), "received trace of the wrong length");

    if (!d.values.isEmpty()) {
        require(kind == RequestKind::RegisterRead, "values outside a register read");
        require(d.values.size() <= std::uint8_t(bytes[2]) / 2, "more values than words");
    }
    // Only a whole frame whose CRC holds, from the station asked, is answered.
    const kc::RequestPlan read{QByteArray::fromHex("010300000002C40B"), RequestKind::RegisterRead,
                               9};
    const auto outcome = kc::judgeReply(kc::expectationOf(read), bytes, true);
    require(outcome.has_value(), "no outcome at the deadline");
    if (outcome->kind == kc::OutcomeKind::Answered)
        require(kc::crcHolds(outcome->frame, int(outcome->frame.size())) && outcome->station == 1 &&
                    outcome->function == 3,
                "answered without a good frame from the station asked");
    for (int i = 0; i < d.values.size(); ++i) {
        require(d.values[i].index >= 0 && d.values[i].index < kc::registerCount,
                "a value box outside the table");
        require(i == 0 || d.values[i].index == d.values[i - 1].index + 1, "values out of order");
    }
    require(kind == RequestKind::Upload || d.uploads.isEmpty(), "upload line outside the mode");
    require(d.uploads.size() <= bytes.count('['), "an upload line without its record");
    if (kind == RequestKind::Upload)
        require(d.rearm > 0 && d.rearm <= kc::UploadFramer::recordThreshold, "bad rearm");
    require(kind == RequestKind::AddressChange || kind == RequestKind::Station || !d.address,
            "an address from a reply that carries none");
    require(!d.deviceText || (kind == RequestKind::DeviceInfo && d.deviceText->size() == 11),
            "device text outside its request or not eleven characters");
    return 0;
}
