#pragma once

// What each box should do with a number, written apart from operations/ so the
// bad-input tests do not take their expectations from the code they check.
// Values are long double, rounding to nearest uses the C library's ties-to-even
// mode, and the checksum is the bitwise Modbus CRC computed here.

#include "QtPrinting.h"
#include "operations/Messages.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <optional>

namespace robust {

using Value = std::optional<long double>; // empty: the text is not a number

inline std::uint16_t referenceCrc(const QByteArray &bytes, int length)
{
    std::uint16_t crc = 0xFFFF;
    for (int i = 0; i < length; ++i) {
        crc ^= std::uint8_t(bytes[i]);
        for (int bit = 0; bit < 8; ++bit) {
            const bool lsb = crc & 1;
            crc >>= 1;
            if (lsb)
                crc ^= 0xA001;
        }
    }
    return crc;
}

inline QByteArray withCrc(const std::array<std::uint8_t, 6> &payload)
{
    QByteArray frame;
    for (std::uint8_t b : payload)
        frame.append(char(b));
    const std::uint16_t crc = referenceCrc(frame, 6);
    frame.append(char(crc & 0xFF)).append(char(crc >> 8));
    return frame;
}

inline bool crcClosesFrame(const QByteArray &frame)
{
    if (frame.size() < 3)
        return false;
    const int n = int(frame.size()) - 2;
    const std::uint16_t crc = referenceCrc(frame, n);
    return std::uint8_t(frame[n]) == (crc & 0xFF) && std::uint8_t(frame[n + 1]) == (crc >> 8);
}

inline long double nearestEven(long double v)
{
    // FE_TONEAREST is the default mode; nearbyint then breaks ties to even.
    return std::nearbyint(v);
}

inline bool within(long double v, long double low, long double high)
{
    return v >= low && v <= high;
}

// The expected result of one request: refused with a message, a frame sent,
// or (the period box) a timer started.
struct Outcome
{
    enum class Kind { Refused, Sent, Timer };
    Kind kind = Kind::Refused;
    QString message;
    std::array<std::uint8_t, 6> payload{};
    int interval = 0;
    std::optional<QString> boxAfter; // what the box holds afterwards, when not its own text

    static Outcome refused(const QString &m) { return {Kind::Refused, m, {}, 0, {}}; }
    static Outcome sent(std::array<std::uint8_t, 6> p) { return {Kind::Sent, {}, p, 0, {}}; }
    static Outcome timer(int ms) { return {Kind::Timer, {}, {}, ms, {}}; }
    QByteArray frame() const { return withCrc(payload); }
};

inline std::uint8_t u8(long double v)
{
    return std::uint8_t(int(v));
}

// Boxes other than the one under test hold the window's start-up texts:
// station 1, function 3, start 0, count 15, both address boxes 1. A station
// under test on a write is paired with register 5 set to 20 (word 2000).
namespace rules {

inline Outcome readStation(Value v)
{
    if (!v || !within(std::floor(*v), 0, 255))
        return Outcome::refused(kc::msg::badStation);
    return Outcome::sent({u8(std::floor(*v)), 0x03, 0, 0, 0, 15});
}

inline Outcome writeStation(Value v)
{
    if (!v || !within(nearestEven(*v), 0, 255))
        return Outcome::refused(kc::msg::badStation);
    return Outcome::sent({u8(nearestEven(*v)), 0x06, 0x0A, 0x04, 0x07, 0xD0});
}

inline Outcome infoStation(Value v)
{
    if (!v || !within(nearestEven(*v), 0, 255))
        return Outcome::refused(kc::msg::badStation);
    return Outcome::sent({u8(nearestEven(*v)), 0x26, 0, 0, 0, 5});
}

inline Outcome function(Value v)
{
    if (!v || !within(nearestEven(*v), 0, 255))
        return Outcome::refused(kc::msg::badFunction);
    return Outcome::sent({1, u8(nearestEven(*v)), 0, 0, 0, 15});
}

inline Outcome start(Value v)
{
    if (!v || !within(std::floor(*v), 0, 255))
        return Outcome::refused(kc::msg::badStart);
    return Outcome::sent({1, 0x03, 0, u8(std::floor(*v)), 0, 15});
}

inline Outcome count(Value v)
{
    if (!v)
        return Outcome::refused(kc::msg::badLength);
    if (!within(std::floor(*v), 1, 15))
        return Outcome::refused(kc::msg::lengthRange);
    return Outcome::sent({1, 0x03, 0, 0, 0, u8(std::floor(*v))});
}

// A timer tick puts "1" into a count box that is not a number and reads one register.
inline Outcome tickCount(Value v)
{
    if (v)
        return count(v);
    Outcome o = Outcome::sent({1, 0x03, 0, 0, 0, 1});
    o.boxAfter = QStringLiteral("1");
    return o;
}

inline Outcome period(Value v)
{
    if (!v)
        return Outcome::refused(kc::msg::periodNotNumber);
    if (!within(std::floor(*v), 50, 60000))
        return Outcome::refused(kc::msg::periodRange);
    return Outcome::timer(int(nearestEven(*v)));
}

inline bool hundredthsRow(int k)
{
    return k == 3 || k == 4 || (k >= 5 && k <= 8);
}

// Register k (3..14) written from its value box, station 1.
inline Outcome registerValue(int k, Value v)
{
    if (!v)
        return Outcome::refused(kc::msg::valueNotNumber);
    if ((k == 3 || k == 4) && !within(*v, -10, 10))
        return Outcome::refused(kc::msg::calibrationRange);
    if (k == 12 && *v != 2400 && *v != 4800 && *v != 9600 && *v != 19200 && *v != 38400)
        return Outcome::refused(kc::msg::baudRange);
    long double scaled = hundredthsRow(k) ? *v * 100 : *v;
    if (scaled < 0)
        scaled += 65535;
    const long double word = nearestEven(scaled);
    if (!within(word, 0, 65535))
        return Outcome::refused(hundredthsRow(k) ? kc::msg::hundredthsWordRange
                                                 : kc::msg::integerWordRange);
    const int w = int(word);
    const int address = 0x0A00 + 2 * (k - 3);
    return Outcome::sent({1, 0x06, std::uint8_t(address >> 8), std::uint8_t(address & 0xFF),
                          std::uint8_t(w >> 8), std::uint8_t(w & 0xFF)});
}

inline Outcome currentAddress(Value v)
{
    if (!v)
        return Outcome::refused(kc::msg::badCurrentAddress);
    const long double a = std::floor(*v);
    if (!within(a, 1, 255))
        return Outcome::refused(kc::msg::addressRange);
    return Outcome::sent({u8(a), 0x06, 0x0B, 0x00, 0x00, 1});
}

inline Outcome targetAddress(Value v)
{
    if (!v)
        return Outcome::refused(kc::msg::badTargetAddress);
    const long double a = std::floor(*v);
    if (a < 1)
        return Outcome::refused(kc::msg::addressRange);
    if (a > 250)
        return Outcome::refused(kc::msg::targetAddressRange);
    return Outcome::sent({1, 0x06, 0x0B, 0x00, 0x00, u8(a)});
}

} // namespace rules

} // namespace robust
