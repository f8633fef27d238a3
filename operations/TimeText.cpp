#include "operations/TimeText.h"

namespace kc {

QString isoTime(const QDateTime &time)
{
    // Qt's own ISO text leaves the offset out of local times and writes "Z" for UTC.
    const int offsetMinutes = time.offsetFromUtc() / 60;
    const int minutes = qAbs(offsetMinutes);
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
           QLatin1Char(offsetMinutes < 0 ? '-' : '+') +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

} // namespace kc
