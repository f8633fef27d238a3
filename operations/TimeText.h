#pragma once

#include <QDateTime>
#include <QString>

namespace kc {

// ISO 8601 with milliseconds and the offset from UTC, "2026-10-25T02:30:00.000+02:00":
// the two instants of a night the clocks go back stay apart.
QString isoTime(const QDateTime &time);

} // namespace kc
