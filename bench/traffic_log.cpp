// The traffic log window ("通讯记录"), shown, taking poll cycles until it is full
// and then as many more past its capacity: the cost of a line at the start,
// up to the last line before it is full and once each line drops the oldest,
// and the memory a line holds.
//   bench_traffic_log [CAPACITY]   (default 100000, the window's own)

#include "BenchSupport.h"

#include "ui/MessageSink.h"
#include "ui/TrafficLogWindow.h"

#include <QApplication>
#include <QTimer>

#include <vector>

using namespace kcbench;

namespace {

class NoMessages : public kc::MessageSink
{
public:
    void show(QWidget *, const kc::UserMessage &) override {}
    bool ask(QWidget *, const kc::UserMessage &) override { return true; }
};

// A poll cycle's three lines: the request, the reply, the outcome.
class Cycles
{
public:
    explicit Cycles(kc::TrafficLogWindow &w) : m_window(w)
    {
        m_catchUp = w.findChild<QTimer *>(QStringLiteral("trafficCatchUp"));
    }

    // CPU microseconds a line over the next `lines`: the median over runs of
    // 100 lines, each ending as the table's timer would at 1,000 lines a second,
    // the table catching up and painting. CPU time and the median leave out
    // most of what other processes on the machine cost.
    double usPerLine(int lines)
    {
        static const QByteArray request = QByteArray::fromHex("01030000000F05CE");
        std::vector<double> runs;
        double start = cpuSeconds();
        for (int i = 0; i < lines; ++i, ++m_serial) {
            const QDateTime now = QDateTime::currentDateTime();
            switch (m_serial % 3) {
            case 0:
                m_window.record({now, kc::TrafficEntry::Direction::Sent, request, {}, port});
                break;
            case 1:
                m_window.record({now, kc::TrafficEntry::Direction::Received, delivery(), {}, port});
                break;
            default:
                m_window.record({now,
                                 kc::TrafficEntry::Direction::Note,
                                 {},
                                 QStringLiteral("应答正常 %1 ms").arg(m_serial % 100 / 10.0),
                                 port});
            }
            if (i % 100 == 99) {
                QMetaObject::invokeMethod(m_catchUp, "timeout", Qt::DirectConnection);
                QApplication::processEvents();
                const double now = cpuSeconds();
                runs.push_back((now - start) * 1e6 / 100);
                start = now;
            }
        }
        return spread(runs).p50;
    }

    int serial() const { return m_serial; }

private:
    // Fifteen registers whose first changes every cycle, so no two replies are
    // alike, as the serial port hands them over: QIODevice::readAll leaves
    // them in a buffer of 64 KiB.
    QByteArray delivery() const
    {
        QByteArray bytes;
        bytes.reserve(65536);
        bytes.append(QByteArray::fromHex("01031E"));
        bytes.append(char(m_serial >> 8)).append(char(m_serial));
        bytes.append(28, '\0').append(QByteArray::fromHex("A3B1"));
        return bytes;
    }
    const QString port = QStringLiteral("COM1");
    kc::TrafficLogWindow &m_window;
    QTimer *m_catchUp = nullptr;
    int m_serial = 0;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int capacity = argc > 1 ? std::max(3000, atoi(argv[1])) : kc::TrafficLog::defaultCapacity;
    NoMessages messages;
    kc::TrafficLogWindow w(&messages);
    w.setCapacity(capacity);
    w.show();
    Cycles cycles(w);
    const std::int64_t heapBefore = heapBytes();
    const std::int64_t residentBefore = residentBytes();
    const double first = cycles.usPerLine(1000);
    cycles.usPerLine(capacity - 2000);
    const double filling = cycles.usPerLine(1000);
    const std::int64_t heapFull = heapBytes();
    const std::int64_t residentFull = residentBytes();
    const double full = cycles.usPerLine(1000); // each line now drops the oldest
    // The table's row list grows once more past full (it keeps room to append
    // as the oldest rows go); what a line adds after that is the steady state.
    cycles.usPerLine(capacity / 2 - 1000);
    const std::int64_t heapSteady = heapBytes();
    const std::int64_t residentSteady = residentBytes();
    const int past = capacity / 2;
    cycles.usPerLine(past);
    printLine(QStringLiteral("traffic_log lines=%1 held=%2 first_us=%3 last_us=%4 full_us=%5 "
                             "last_over_first=%6 heap_bytes_per_line=%7 rss_bytes_per_line=%8 "
                             "heap_bytes_per_line_past_full=%9 rss_bytes_per_line_past_full=%10")
                  .arg(cycles.serial())
                  .arg(w.log().entries().size())
                  .arg(num(first, 2), num(filling, 2), num(full, 2), num(filling / first, 2),
                       num(double(heapFull - heapBefore) / capacity, 0),
                       num(double(residentFull - residentBefore) / capacity, 0),
                       num(double(heapBytes() - heapSteady) / past, 1),
                       num(double(residentBytes() - residentSteady) / past, 1)));
    return 0;
}
