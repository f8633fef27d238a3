#pragma once

#include <QString>
#include <QVector>

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

// "1-5,7" (a comma, full-width or not, between items; blanks around them):
// whole numbers within [low, high], each once, in the order given; nothing when
// the text is not such a list.
std::optional<QVector<int>> numberList(const QString &text, int low, int high);

} // namespace kc
