#pragma once

#include <QChar>

#include <cstdint>

namespace kc {

// A byte of the module's device text as the desktop's local code page reads
// it: the ANSI code page on Windows, Latin-1 elsewhere.
QChar localCharOf(std::uint8_t byte);

} // namespace kc
