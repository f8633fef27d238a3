#pragma once

#include <QDateTime>
#include <QString>

namespace kc {

// "2026-10-25T02:30:00.000+02:00": ISO 8601 with milliseconds and the offset
// from UTC, always as ±hh:mm (never "Z"), so the hour the clocks go back
// stays two different hours in a file and every writer's times read alike.
QString isoTime(const QDateTime &time);

} // namespace kc
