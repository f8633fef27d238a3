#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <deque>

namespace kc {

// A field as a spreadsheet reads it: quoted when it holds a comma, a quote or
// a line break.
QString csvField(QString text);

// One line of the traffic log: a frame sent, bytes received, or the outcome
// judged without bytes (no reply, superseded).
struct TrafficEntry
{
    enum class Direction { Sent, Received, Note };
    QDateTime time;
    Direction direction = Direction::Sent;
    QByteArray bytes;
    QString outcome; // empty while a reply is still being collected
};

// The last `capacity` entries, oldest first. Adding costs the same whether
// the log is empty or full.
class TrafficLog
{
public:
    static constexpr int defaultCapacity = 100000;
    explicit TrafficLog(int capacity = defaultCapacity) : m_capacity(capacity) {}

    void add(TrafficEntry entry);
    void clear() { m_entries.clear(); }
    const std::deque<TrafficEntry> &entries() const { return m_entries; }

    // "2026-12-07 10:15:02.123  发送  01 03 00 00 00 0F 05 CE  应答正常 12.4 ms"
    static QString line(const TrafficEntry &entry);
    // time,direction,bytes,outcome with the bytes in hex; quoted where needed.
    static QString csvRow(const TrafficEntry &entry);
    static QString csvHeader();

private:
    int m_capacity;
    std::deque<TrafficEntry> m_entries;
};

} // namespace kc
