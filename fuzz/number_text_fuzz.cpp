// Any texts in the request boxes: the number rule, the roundings, the register
// words and every request plan.
//
// Input: byte 0 picks the decoding (bits 0-1: Latin-1, UTF-8, UTF-16) and the
// register row of a write (bits 2-5); the rest is up to four box texts split at
// 0x1F bytes (station, function, start, count, in that order where it matters).

#include "FuzzChecks.h"

#include "operations/NumberText.h"
#include "operations/RegisterMap.h"
#include "operations/Requests.h"
#include "protocol/ResponseReceiver.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

using fuzz::floorOf;
using fuzz::inRange;
using fuzz::nearestOf;
using fuzz::Reference;
using fuzz::require;

QString decode(const QByteArray &raw, int encoding)
{
    switch (encoding) {
    case 0:
        return QString::fromLatin1(raw);
    case 1:
        return QString::fromUtf8(raw);
    default:
        return QString(reinterpret_cast<const QChar *>(raw.constData()), raw.size() / 2);
    }
}

void checkNumber(const QString &text, const Reference &ref)
{
    const auto value = kc::numericValue(text);
    if (!ref.known)
        return;
    require(value.has_value() == ref.number, "numericValue disagrees with the number pattern");
    if (!value)
        return;
    const double v = *value;
    if (std::isinf(ref.value) || std::fabs(ref.value) >= DBL_MIN) {
        require(v == ref.value, "numericValue differs from strtod");
    } else {
        // Too close to zero for a double: the sign and the whole part still count.
        require(std::fabs(v) < DBL_MIN, "a tiny number read as a large one");
        require(std::signbit(v) == ref.negative, "a tiny number lost its sign");
        require(std::floor(v) == floorOf(ref), "a tiny number with the wrong whole part");
    }

    require(kc::wholePart(v) == std::floor(v), "wholePart is not floor");
    const double r = kc::roundHalfEven(v);
    if (std::isfinite(v)) {
        require(r == std::nearbyint(v), "roundHalfEven is not ties-to-even");
    } else {
        require(r == v, "roundHalfEven changed an infinity");
    }
    static const std::array<std::pair<int, int>, 6> ranges = {
        {{0, 255}, {1, 15}, {50, 60000}, {1, 250}, {0, 65535}, {-10, 10}}};
    for (const auto &[low, high] : ranges) {
        for (double whole : {kc::wholePart(v), r}) {
            const auto in = kc::intInRange(whole, low, high);
            require(in.has_value() == inRange(whole, low, high), "intInRange accepts wrongly");
            if (in)
                require(*in == int(whole), "intInRange changed the value");
        }
    }
}

bool isRate(float f)
{
    return f == 2400.0f || f == 4800.0f || f == 9600.0f || f == 19200.0f || f == 38400.0f;
}

// The word of register k, or the refusal, against the documented rule in
// single precision (a float's rounding makes a difference of one at most).
void checkWord(int k, const QString &text, const Reference &ref)
{
    const auto encoded = kc::encodeWrite(k, text);
    const auto *word = std::get_if<std::uint16_t>(&encoded);
    const auto *refusal = std::get_if<kc::UserMessage>(&encoded);
    if (!ref.known)
        return;
    if (!ref.number) {
        require(refusal && refusal->text == kc::msg::valueNotNumber, "a word from no number");
        return;
    }
    const float f = float(ref.value);
    if ((k == 3 || k == 4) && !(f >= -10.0f && f <= 10.0f)) {
        require(refusal && refusal->text == kc::msg::calibrationRange, "calibration out of range");
        return;
    }
    if (k == 12 && !isRate(f)) {
        require(refusal && refusal->text == kc::msg::baudRange, "a rate that is none");
        return;
    }
    const bool hundredths = k <= 8;
    long double scaled = hundredths ? (long double)f * 100 : (long double)f;
    if (scaled < 0)
        scaled += 65535;
    if (word) {
        require(scaled >= -1 && scaled <= 65536, "a word for a value outside the word");
        require(std::fabs((long double)*word - scaled) <= 1, "a word that is not the value");
    } else {
        require(refusal->text ==
                    (hundredths ? kc::msg::hundredthsWordRange : kc::msg::integerWordRange),
                "the wrong message for a word out of range");
        require(scaled < 1 || scaled > 65534, "a value inside the word refused");
    }
}

void checkFrame(const kc::RequestPlan &plan, std::array<double, 6> payload, std::int16_t kind,
                int threshold)
{
    require(plan.frame.size() == 8, "a frame that is not eight bytes");
    require(fuzz::closedByCrc(plan.frame), "a frame with a bad CRC");
    for (int i = 0; i < 6; ++i)
        require(std::uint8_t(plan.frame[i]) == payload[std::size_t(i)],
                "a frame byte the operator did not ask for");
    require(plan.cmdType == kind, "a plan of the wrong kind");
    require(plan.threshold == threshold, "a plan with the wrong reply length");
}

void expectRefusal(const kc::Planned &p, const QString &message, const char *what)
{
    const auto *m = std::get_if<kc::UserMessage>(&p);
    require(m && m->text == message, what);
}

const kc::RequestPlan *accepted(const kc::Planned &p)
{
    return std::get_if<kc::RequestPlan>(&p);
}

void checkRegisterRead(const std::array<QString, 4> &t, const std::array<Reference, 4> &r)
{
    const kc::Planned p = kc::planRegisterRead({t[0], t[1], t[2], t[3]});
    if (const auto *plan = accepted(p)) {
        require(plan->frame.size() == 8 && fuzz::closedByCrc(plan->frame), "a read frame broken");
    }
    for (const Reference &ref : r) {
        if (!ref.known)
            return;
    }
    const double station = floorOf(r[0]), function = nearestOf(r[1]);
    const double start = floorOf(r[2]), count = floorOf(r[3]);
    if (!r[0].number || !inRange(station, 0, 255))
        return expectRefusal(p, kc::msg::badStation, "read: station");
    if (!r[1].number || !inRange(function, 0, 255))
        return expectRefusal(p, kc::msg::badFunction, "read: function");
    if (!r[3].number)
        return expectRefusal(p, kc::msg::badLength, "read: count not a number");
    if (!r[2].number || !inRange(start, 0, 255))
        return expectRefusal(p, kc::msg::badStart, "read: start");
    if (!inRange(count, 1, 15))
        return expectRefusal(p, kc::msg::lengthRange, "read: count range");
    const auto *plan = accepted(p);
    require(plan, "read: a valid read refused");
    checkFrame(*plan, {station, function, 0, start, 0, count}, kc::RequestKind::RegisterRead,
               int(2 * count + 5));
}

void checkPolling(const QString &text, const Reference &r)
{
    const auto period = kc::planPolling(text);
    if (!r.known)
        return;
    const auto *m = std::get_if<kc::UserMessage>(&period);
    if (!r.number) {
        require(m && m->text == kc::msg::periodNotNumber, "period: no number accepted");
    } else if (!inRange(floorOf(r), 50, 60000)) {
        require(m && m->text == kc::msg::periodRange, "period: out of range accepted");
    } else {
        require(!m && std::get<int>(period) == nearestOf(r), "period: wrong interval");
    }
}

void checkWrite(int button, const std::array<QString, 4> &t, const std::array<Reference, 4> &r)
{
    const int k = button + 3;
    const kc::Planned p = kc::planParameterWrite(button, t[0], t[1]);
    if (!r[0].known || !r[1].known)
        return;
    const auto word = kc::encodeWrite(k, t[0]);
    if (const auto *refusal = std::get_if<kc::UserMessage>(&word))
        return expectRefusal(p, refusal->text, "write: value refusal not passed on");
    const double station = nearestOf(r[1]);
    if (!r[1].number || !inRange(station, 0, 255))
        return expectRefusal(p, kc::msg::badStation, "write: station");
    const auto *plan = accepted(p);
    require(plan, "write: a valid write refused");
    const int address = 0x0A00 + 2 * (k - 3), w = std::get<std::uint16_t>(word);
    checkFrame(*plan,
               {station, 6, double(address >> 8), double(address & 0xFF), double(w >> 8),
                double(w & 0xFF)},
               kc::RequestKind::Station, 6);
}

void checkAddressChange(const std::array<QString, 4> &t, const std::array<Reference, 4> &r)
{
    const kc::Planned p = kc::planAddressChange(t[0], t[1]);
    if (!r[0].known || !r[1].known)
        return;
    if (!r[0].number)
        return expectRefusal(p, kc::msg::badCurrentAddress, "change: current not a number");
    if (!r[1].number)
        return expectRefusal(p, kc::msg::badTargetAddress, "change: target not a number");
    const double current = floorOf(r[0]), target = floorOf(r[1]);
    if (current <= 0 || target <= 0 || current > 255)
        return expectRefusal(p, kc::msg::addressRange, "change: address range");
    if (target > 250)
        return expectRefusal(p, kc::msg::targetAddressRange, "change: target range");
    const auto *plan = accepted(p);
    require(plan, "change: a valid change refused");
    checkFrame(*plan, {current, 6, 0x0B, 0, 0, target}, kc::RequestKind::AddressChange, 6);
}

void checkDeviceInfo(const QString &text, const Reference &r)
{
    const kc::Planned p = kc::planDeviceInfo(text);
    if (!r.known)
        return;
    const double station = nearestOf(r);
    if (!r.number || !inRange(station, 0, 255))
        return expectRefusal(p, kc::msg::badStation, "information: station");
    const auto *plan = accepted(p);
    require(plan, "information: a valid request refused");
    checkFrame(*plan, {station, 0x26, 0, 0, 0, 5}, kc::RequestKind::DeviceInfo, 16);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const int encoding = data[0] & 3;
    const int button = (data[0] >> 2) % 12;
    const QByteArray rest(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    std::array<QString, 4> texts;
    std::array<Reference, 4> refs;
    qsizetype from = 0;
    for (int i = 0; i < 4; ++i) {
        qsizetype to = i < 3 ? rest.indexOf('\x1F', from) : -1;
        if (to < 0)
            to = rest.size();
        texts[std::size_t(i)] = decode(rest.mid(from, to - from), encoding);
        from = std::min(to + 1, rest.size());
    }
    for (std::size_t i = 0; i < 4; ++i) {
        refs[i] = fuzz::reference(texts[i]);
        checkNumber(texts[i], refs[i]);
    }
    const QString whole = decode(rest, encoding);
    checkNumber(whole, fuzz::reference(whole));
    for (int k = 3; k <= 14; ++k)
        checkWord(k, texts[0], refs[0]);

    checkRegisterRead(texts, refs);
    checkPolling(texts[0], refs[0]);
    checkWrite(button, texts, refs);
    checkAddressChange(texts, refs);
    checkDeviceInfo(texts[0], refs[0]);
    return 0;
}
