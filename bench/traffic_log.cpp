// The traffic log window ("通讯记录"), shown, taking a hundred thousand lines and
// then as many more past its capacity: the cost of a line at the start, when
// full, and the memory it holds.
//   bench_traffic_log [LINES]   (default 100000, the capacity)

#include "BenchSupport.h"

#include "ui/MessageSink.h"
#include "ui/TrafficLogWindow.h"

#include <QApplication>
#include <QElapsedTimer>

using namespace kcbench;

namespace {

class NoMessages : public kc::MessageSink
{
public:
    void show(QWidget *, const kc::UserMessage &) override {}
};

// Microseconds a line over the next `lines` entries, painting as a window would.
double usPerLine(kc::TrafficLogWindow &w, int lines, int &serial)
{
    const QByteArray frame = QByteArray::fromHex("01030000000F05CE");
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < lines; ++i, ++serial) {
        w.record({QDateTime::currentDateTime(), kc::TrafficEntry::Direction::Sent, frame,
                  QStringLiteral("应答正常 %1 ms").arg(serial % 100), {}});
        if (i % 100 == 99)
            QApplication::processEvents();
    }
    return double(t.nsecsElapsed()) / 1e3 / lines;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int capacity = argc > 1 ? std::max(2000, atoi(argv[1])) : kc::TrafficLog::defaultCapacity;
    NoMessages messages;
    kc::TrafficLogWindow w(&messages);
    w.show();
    int serial = 0;
    const std::int64_t heapBefore = heapBytes();
    const double first = usPerLine(w, 1000, serial);
    usPerLine(w, capacity - 2000, serial);
    const double filling = usPerLine(w, 1000, serial);
    const std::int64_t heapFull = heapBytes();
    const double full = usPerLine(w, 1000, serial); // each line now drops the oldest
    printLine(QStringLiteral("traffic_log lines=%1 held=%2 first_us=%3 last_us=%4 full_us=%5 "
                             "last_over_first=%6 heap_bytes_per_line=%7")
                  .arg(serial)
                  .arg(w.log().entries().size())
                  .arg(num(first, 2), num(filling, 2), num(full, 2), num(filling / first, 2),
                       num(double(heapFull - heapBefore) / (capacity - 1000), 0)));
    return 0;
}
