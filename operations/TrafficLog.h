#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QSet>
#include <QString>

#include <cstdint>
#include <deque>

namespace kc {

// One line of the traffic log as a caller records it: a frame sent, bytes
// received, or the outcome judged without bytes (no reply, superseded).
struct TrafficEntry
{
    enum class Direction : std::uint8_t { Sent, Received, Note };
    QDateTime time;
    Direction direction = Direction::Sent;
    QByteArray bytes;
    QString outcome; // empty while a reply is still being collected
    // The line it went over: "COM1", "/dev/ttyUSB0"; empty when unknown. The
    // initializer lets callers leave it out without a warning.
    QString port = {};
    int length = 0; // of the delivery, when more than bytesKept arrived
};

// The last `capacity` entries, oldest first. Adding costs the same whether
// the log is empty or full.
class TrafficLog
{
public:
    // A line as the log keeps it. A hundred thousand of them stay in memory,
    // so equal texts and frames share one copy. A local time fits in the
    // QDateTime itself (8 bytes) and, kept as it came, is never converted:
    // a conversion reads the time zone file each time.
    struct Row
    {
        QDateTime time;
        QByteArray bytes;
        QString outcome;
        QString port;
        int length = 0;
        TrafficEntry::Direction direction = TrafficEntry::Direction::Sent;
    };

    static constexpr int defaultCapacity = 100000;
    // Bytes kept of one delivery: a Modbus frame is at most 256; a flood's
    // deliveries keep their length only.
    static constexpr int bytesKept = 256;
    explicit TrafficLog(int capacity = defaultCapacity) : m_capacity(capacity) {}

    // Adds the entry; true when the oldest one made room for it.
    bool add(const TrafficEntry &entry);
    // For the benches, which fill the log in less time than a real one takes;
    // the oldest lines go at once if more are held.
    void setCapacity(int capacity);
    void clear();
    const std::deque<Row> &entries() const { return m_entries; }
    // Lines ever dropped, by clearing or for room: the first kept line is the
    // one added as number firstSerial() (from 0), whatever came and went.
    qint64 firstSerial() const { return m_dropped; }

    // "2026-12-07 10:15:02.123  发送  COM1  01 03 00 00 00 0F 05 CE  应答正常 12.4 ms"
    static QString line(const Row &row);
    // time,direction,port,bytes,outcome with the bytes in hex; quoted where needed.
    static QString csvRow(const Row &row);
    static QString csvHeader();
    // The fields of line(), each alone, as a table shows them.
    static QString timeText(const Row &row);
    static QString directionText(const Row &row);
    static QString bytesText(const Row &row);

private:
    int m_capacity;
    qint64 m_dropped = 0;
    std::deque<Row> m_entries;
    QSet<QString> m_texts;
    QSet<QByteArray> m_frames;
};

} // namespace kc
