#include "operations/TimeText.h"

namespace kc {

QString isoTime(const QDateTime &time)
{
    const QDateTime fixed = time.toOffsetFromUtc(time.offsetFromUtc());
    QString text = fixed.toString(Qt::ISODateWithMs);
    // Qt writes "Z" for a zero offset; keep one form.
    if (text.endsWith(QLatin1Char('Z')))
        text.chop(1), text += QStringLiteral("+00:00");
    return text;
}

} // namespace kc
