#pragma once

#include <QString>

#include <optional>

namespace kc {

// The one way box texts become numbers.
//
// A text is numeric when, after blanks (space, tab) at either end, it is an
// optional "+" or "-" followed by ASCII digits with at most one decimal point
// and at least one digit: "5", " 5 ", "+5", "-0", "5.", ".5", "007.50".
// Everything else is not a number: empty or blank texts, exponents ("1e3"),
// "nan", "inf", hex ("0x10"), separators ("5,5", "1,000"), full-width or other
// non-ASCII digits, embedded NULs. A numeric text too large for a double reads
// as an infinity, which every range check then refuses; one too close to zero
// reads as 0, or as the smallest negative double when it is below zero.
std::optional<double> numericValue(const QString &text);

// Addresses, start register, count and the period check: rounded down.
double wholePart(double value);

// Function code, write station, timer period and register words: to the
// nearest integer, a half to the even neighbour.
double roundHalfEven(double value);

// A whole value as an int when it lies within [low, high]; empty otherwise
// (infinities included).
std::optional<int> intInRange(double whole, int low, int high);

// A text that is a whole number (no fraction) within [low, high], as an
// option or a file field must be; empty otherwise.
std::optional<int> wholeNumberIn(const QString &text, int low, int high);

// Start register for decoding a read reply: the whole part of the start box,
// 0 when it is not a number. Values far outside the table are clamped, since
// every index derived from them falls outside the fifteen boxes either way.
int startRegisterOf(const QString &text);

} // namespace kc
