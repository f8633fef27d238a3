#pragma once

// Checks shared by the fuzz targets. Everything here is written apart from the
// code under test: its own CRC, its own idea of what a number looks like.

#include <QByteArray>
#include <QString>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <regex>
#include <string>

namespace fuzz {

// A broken invariant is a crash, so libFuzzer keeps the input that caused it.
inline void require(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

inline std::uint16_t crc(const char *data, std::size_t length)
{
    std::uint16_t c = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        c ^= std::uint8_t(data[i]);
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? std::uint16_t((c >> 1) ^ 0xA001) : std::uint16_t(c >> 1);
    }
    return c;
}

// The last two bytes are the CRC of the rest, low byte first.
inline bool closedByCrc(const QByteArray &frame)
{
    if (frame.size() < 3)
        return false;
    const std::size_t n = std::size_t(frame.size()) - 2;
    const std::uint16_t c = crc(frame.constData(), n);
    return std::uint8_t(frame[qsizetype(n)]) == (c & 0xFF) &&
           std::uint8_t(frame[qsizetype(n + 1)]) == (c >> 8);
}

// Texts longer than this are not matched: std::regex recurses per character.
constexpr int longestMatched = 1024;

// What a box text means, found without the code under test: the ASCII text
// must match the documented pattern, and strtod (C locale, as the fuzzers run)
// gives its value. Empty when it is not a number, or too long to match.
struct Reference
{
    bool known = false;  // false: too long to judge
    bool number = false; // matches the pattern
    double value = 0;
    bool negative = false;
    bool nonZeroDigit = false;
};

inline Reference reference(const QString &text)
{
    Reference r;
    if (text.size() > longestMatched)
        return r;
    r.known = true;
    std::string ascii;
    for (QChar c : text) {
        if (c.unicode() > 0x7F)
            return r;
        ascii.push_back(char(c.unicode()));
    }
    static const std::regex pattern(R"([ \t]*([+-]?)([0-9]+\.?[0-9]*|\.[0-9]+)[ \t]*)");
    std::smatch m;
    if (!std::regex_match(ascii, m, pattern))
        return r;
    r.number = true;
    r.negative = m[1] == "-";
    const std::string digits = m[2];
    r.nonZeroDigit = digits.find_first_of("123456789") != std::string::npos;
    const double magnitude = std::strtod(digits.c_str(), nullptr);
    r.value = r.negative ? -magnitude : magnitude;
    return r;
}

// The whole part as the boxes take it. A negative fraction too small for a
// double still rounds down to -1.
inline double floorOf(const Reference &r)
{
    if (r.negative && r.nonZeroDigit && r.value == 0)
        return -1;
    return std::floor(r.value);
}

// Nearest integer, a half to the even neighbour (the default rounding mode).
inline double nearestOf(const Reference &r)
{
    return std::nearbyint(r.value);
}

inline bool inRange(double v, double low, double high)
{
    return v >= low && v <= high;
}

} // namespace fuzz
