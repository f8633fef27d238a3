#pragma once

#include "operations/Messages.h"

#include <QList>
#include <QString>

#include <array>
#include <cstdint>
#include <variant>

namespace kc {

// How a row's word relates to the number the operator reads and types.
enum class Scale { Hundredths, Whole };

// The range a typed value must be in before it is scaled, beyond fitting a word.
enum class WriteCheck { None, Calibration, BaudList };

// One register row: everything the tool knows about it lives here.
struct RegisterRow
{
    int number;
    const char *caption; // UTF-8, as the row shows it
    const char *legend;  // UTF-8 note beside the row, or empty
    bool writable;
    Scale scale;
    // A word above this is a negative stored with the 65535 offset; 0: never.
    int negativeAbove;
    WriteCheck check;
};

inline constexpr int registerCount = 15;
inline constexpr int firstWritable = 3;
inline constexpr int temperatureRow = 0;
inline constexpr int humidityRow = 1;
inline constexpr int alarmRow = 2;
inline constexpr int baudRow = 12;

// The rates a module can be set to (row 12's rule), ascending.
const QList<int> &moduleBauds();

const std::array<RegisterRow, registerCount> &registerMap();

// Register address of a write to row k: 0x0A00 + 2 * (k - 3).
std::uint16_t writeAddress(int k);

// A word of row k as its box shows it ("-5.35", "9600").
QString decodeWord(int k, std::uint16_t word);

// The same as a number: hundredths for hundredths rows, the whole value for others.
int wordValue(int k, std::uint16_t word);
// Such a number as its box shows it.
QString valueText(int k, int value);
// Such a number in the row's unit: degrees, %RH, or the whole value.
double realValue(int k, int value);

// The operator's text for row k (3..14) as the word to write, or the message
// that refuses it.
std::variant<std::uint16_t, UserMessage> encodeWrite(int k, const QString &text);

} // namespace kc
