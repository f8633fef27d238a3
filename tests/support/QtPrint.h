#pragma once

#include <QString>

#include <ostream>

// Failed comparisons of Qt strings print as text, not as arrays of QChar.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
