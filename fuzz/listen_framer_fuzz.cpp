// Any bytes on a line, in any deliveries and silences, cut into frames by the
// listen framer and paired into exchanges.
//
// Input: byte 0 the silence and byte 1 the patience (ms); then deliveries,
// each a length byte, a gap byte (ms before it; odd: a silence timer fires in
// the gap) and that many bytes.

#include "FuzzChecks.h"

#include "operations/Listening.h"
#include "operations/Replies.h"
#include "protocol/FrameCodec.h"
#include "protocol/Framing.h"
#include "protocol/ListenFraming.h"

#include <cstddef>
#include <cstdint>
#include <limits>

using fuzz::require;
using kc::HeardFrame;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const double silence = 1 + data[0] % 16;
    kc::LineFramer framer(silence, silence + data[1] % 32);
    QByteArray fed, cut;
    QVector<HeardFrame> frames;
    double now = 0;
    for (std::size_t at = 2; at + 2 <= size;) {
        const std::size_t length = std::min<std::size_t>(data[at], size - at - 2);
        const int gap = data[at + 1];
        if (gap % 2)
            frames += framer.idle(now + gap / 2.0);
        now += gap;
        const QByteArray bytes(reinterpret_cast<const char *>(data + at + 2), qsizetype(length));
        fed += bytes;
        frames += framer.feed(bytes, now);
        at += 2 + length;
    }
    frames += framer.idle(std::numeric_limits<double>::infinity());
    require(framer.cutAt() < 0, "bytes held after the last silence");

    kc::HeardTraffic traffic;
    long long requests = 0;
    double last = 0;
    for (const HeardFrame &f : frames) {
        require(!f.bytes.isEmpty(), "an empty frame");
        require(f.at >= last && f.at <= now, "a frame out of time");
        last = f.at;
        cut += f.bytes;
        if (f.role == HeardFrame::Role::Request) {
            require(f.crcOk && kc::requestFrameLength(f.bytes) == f.bytes.size() &&
                        kc::crcHolds(f.bytes, int(f.bytes.size())),
                    "a request that is no whole frame");
            requests += f.bytes[0] != 0;
        }
        if (f.role == HeardFrame::Role::Reply && f.crcOk)
            require(kc::replyFrameLength(f.bytes) == f.bytes.size() &&
                        kc::crcHolds(f.bytes, int(f.bytes.size())),
                    "a good reply that is no whole frame");
        require(f.role != HeardFrame::Role::Noise || !f.crcOk, "good noise");
        for (const kc::HeardExchange &x : traffic.take(f)) {
            const auto values = kc::heardRegisters(x);
            require(values.isEmpty() || (x.outcome.answered() && x.known &&
                                         x.known->kind == kc::RequestKind::RegisterRead),
                    "values from anything but an answered read");
        }
    }
    traffic.finish();
    require(cut == fed, "bytes lost, added or reordered");
    long long counted = 0;
    for (const kc::OutcomeTotals &t : traffic.stations()) {
        require(t.sent == t.answered + t.errors() + t.noReply + t.superseded,
                "a station's totals that do not add up");
        counted += t.sent;
    }
    require(counted == requests, "a request not counted once");
    return 0;
}
