#include "operations/TrafficLog.h"

#include "operations/Csv.h"
#include "protocol/FrameCodec.h"

#include <algorithm>

namespace kc {

namespace {

// Distinct texts and frames remembered for sharing; past this the table starts
// over, so a line of ever-new replies cannot grow it without bound.
constexpr qsizetype sharedLimit = 4096;

// `value` as one copy shared by every equal value added since the table last
// started over. The copy is exactly as long as the value: a delivery read from
// a serial port may sit in a buffer of 64 KiB, which the log must not keep.
template <typename T> T shared(QSet<T> &seen, const T &value)
{
    if (value.isEmpty())
        return {};
    const auto it = seen.constFind(value);
    if (it != seen.cend())
        return *it;
    if (seen.size() >= sharedLimit)
        seen.clear();
    return *seen.insert(T(value.constData(), value.size()));
}

} // namespace

bool TrafficLog::add(const TrafficEntry &entry)
{
    Row row;
    row.time = entry.time;
    row.direction = entry.direction;
    row.length = entry.length;
    if (entry.bytes.size() > bytesKept) {
        row.length = int(entry.bytes.size());
        row.bytes = shared(m_frames, entry.bytes.first(bytesKept));
    } else {
        row.bytes = shared(m_frames, entry.bytes);
    }
    row.outcome = shared(m_texts, entry.outcome);
    row.port = shared(m_texts, entry.port);
    const bool full = int(m_entries.size()) >= m_capacity;
    m_entries.push_back(std::move(row));
    if (full)
        setCapacity(m_capacity);
    return full;
}

void TrafficLog::setCapacity(int capacity)
{
    m_capacity = std::max(1, capacity);
    while (int(m_entries.size()) > m_capacity) {
        m_entries.pop_front();
        ++m_dropped;
    }
}

void TrafficLog::clear()
{
    m_dropped += qint64(m_entries.size());
    m_entries.clear();
    m_texts.clear();
    m_frames.clear();
}

QString TrafficLog::timeText(const Row &row)
{
    return row.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

QString TrafficLog::directionText(const Row &row)
{
    switch (row.direction) {
    case TrafficEntry::Direction::Sent:
        return QStringLiteral("发送");
    case TrafficEntry::Direction::Received:
        return QStringLiteral("接收");
    case TrafficEntry::Direction::Note:
        break;
    }
    return QStringLiteral("结果");
}

QString TrafficLog::bytesText(const Row &row)
{
    QString text = sentTrace(row.bytes).trimmed();
    if (row.length > 0)
        text += QStringLiteral(" …(共 %1 字节)").arg(row.length);
    return text;
}

QString TrafficLog::line(const Row &row)
{
    QString text = timeText(row) + QStringLiteral("  ") + directionText(row);
    for (const QString &field : {row.port, bytesText(row), row.outcome}) {
        if (!field.isEmpty())
            text += QStringLiteral("  ") + field;
    }
    return text;
}

QString TrafficLog::csvHeader()
{
    return QStringLiteral("time,direction,port,bytes,outcome");
}

QString TrafficLog::csvRow(const Row &row)
{
    return timeText(row) + QLatin1Char(',') + directionText(row) + QLatin1Char(',') +
           csvField(row.port) + QLatin1Char(',') + csvField(bytesText(row)) + QLatin1Char(',') +
           csvField(row.outcome);
}

} // namespace kc
