#include "operations/TrafficLog.h"

#include "operations/Csv.h"
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

bool TrafficLog::add(TrafficEntry entry)
{
    if (entry.bytes.size() > bytesKept) {
        entry.length = int(entry.bytes.size());
        entry.bytes.truncate(bytesKept);
        entry.bytes.squeeze();
    }
    const bool full = int(m_entries.size()) >= m_capacity;
    if (full)
        m_entries.pop_front();
    m_entries.push_back(std::move(entry));
    return full;
}

namespace {
QString bytesText(const TrafficEntry &e)
{
    QString text = sentTrace(e.bytes).trimmed();
    if (e.length > 0)
        text += QStringLiteral(" …(共 %1 字节)").arg(e.length);
    return text;
}
} // namespace

QString TrafficLog::line(const TrafficEntry &e)
{
    QString text = stamp(e.time) + QStringLiteral("  ") + directionText(e.direction);
    if (!e.bytes.isEmpty())
        text += QStringLiteral("  ") + bytesText(e);
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
           bytesText(e) + QLatin1Char(',') + csvField(e.outcome);
}

} // namespace kc
