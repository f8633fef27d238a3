#pragma once

#include "operations/Messages.h"

#include <QString>

#include <array>
#include <cstdint>
#include <variant>

namespace kc {

enum class ValueKind { Hundredths, PlainInteger };

struct RegisterInfo
{
    int number;
    const char *caption; // UTF-8, as the row shows it
    ValueKind kind;
    bool writable;
    const char *legend; // UTF-8 note beside the row, or empty
};

inline constexpr int registerCount = 15;
inline constexpr int firstWritable = 3;

const std::array<RegisterInfo, registerCount> &registerMap();

// Register address of a write: 0x0A00 + 2 * (k - 3).
std::uint16_t writeAddress(int k);

// The operator's text for register k (3..14) as the word to write, or the
// message that refuses it.
std::variant<std::uint16_t, UserMessage> encodeWrite(int k, const QString &text);

} // namespace kc
