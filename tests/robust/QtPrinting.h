#pragma once

#include <QString>

#include <ostream>

// Box texts, messages and log lines readable in failure reports.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}
