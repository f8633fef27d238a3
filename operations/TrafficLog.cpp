#include "operations/TrafficLog.h"

#include "protocol/FrameCodec.h"

namespace kc {

namespace {

QString directionText(TrafficEntry::Direction d)
{
    switch (d) {
    case TrafficEntry::Direction::Sent:
        return QStringLiteral("发送");
    case TrafficEntry::Direction::Received:
        return QStringLiteral("接收");
    case TrafficEntry::Direction::Note:
        break;
    }
    return QStringLiteral("结果");
}

QString stamp(const QDateTime &t)
{
    return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

} // namespace

QString csvField(QString text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    text.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

void TrafficLog::add(TrafficEntry entry)
{
    if (int(m_entries.size()) >= m_capacity)
        m_entries.pop_front();
    m_entries.push_back(std::move(entry));
}

QString TrafficLog::line(const TrafficEntry &e)
{
    QString text = stamp(e.time) + QStringLiteral("  ") + directionText(e.direction);
    if (!e.bytes.isEmpty())
        text += QStringLiteral("  ") + sentTrace(e.bytes).trimmed();
    if (!e.outcome.isEmpty())
        text += QStringLiteral("  ") + e.outcome;
    return text;
}

QString TrafficLog::csvHeader()
{
    return QStringLiteral("time,direction,bytes,outcome");
}

QString TrafficLog::csvRow(const TrafficEntry &e)
{
    return stamp(e.time) + QLatin1Char(',') + directionText(e.direction) + QLatin1Char(',') +
           sentTrace(e.bytes).trimmed() + QLatin1Char(',') + csvField(e.outcome);
}

} // namespace kc
