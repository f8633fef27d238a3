// A million upload records through the window's receive path: does a log line cost
// the same at the end as near the start, and how much memory does each keep?

#include "BenchSupport.h"
#include "CountingSink.h"
#include "FeedLink.h"

#include "line/PortClaims.h"
#include "ui/MainWindow.h"
#include "ui/MessageSink.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>

#include <cstdio>
#include <vector>

using namespace kcbench;

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long long lines = argc > 1 ? std::atoll(argv[1]) : 1'000'000;
    const long long block = lines / 10;
    // Records reach a real window at most every few milliseconds; let it paint this often.
    const int paintEvery = 100;

    CountingSink sink;
    FeedLink *link = nullptr;
    kc::PortClaims claims([&link](const QString &) { return link = new FeedLink; });
    kc::MainWindow window(&claims, &sink);
    window.show();
    QCoreApplication::processEvents();
    window.findChild<QPushButton *>(QStringLiteral("Command3"))->click();
    auto *log = window.findChild<QPlainTextEdit *>(QStringLiteral("txtUp"));

    // Varied readings, built beforehand so the loop times the window only.
    std::vector<QByteArray> records;
    for (int i = 0; i < 1000; ++i)
        records.push_back(QStringLiteral("[%1.%2,%3.%4]")
                              .arg(200 + i % 150, 3, 10, QLatin1Char('0'))
                              .arg(i % 10)
                              .arg(300 + (i * 7) % 600, 3, 10, QLatin1Char('0'))
                              .arg((i * 3) % 10)
                              .toLatin1());

    // Wall time, and CPU time, which other work on a shared machine disturbs less.
    std::vector<double> blockSeconds, blockCpuSeconds;
    const std::int64_t rss0 = residentBytes();
    const std::int64_t heap0 = heapBytes();
    std::int64_t blockStart = monotonicNs();
    double blockCpuStart = cpuSeconds();
    for (long long n = 0; n < lines; ++n) {
        link->deliver(records[std::size_t(n % 1000)]);
        if ((n + 1) % paintEvery == 0)
            QCoreApplication::processEvents();
        if ((n + 1) % block == 0) {
            const std::int64_t now = monotonicNs();
            const double cpu = cpuSeconds();
            blockSeconds.push_back(double(now - blockStart) / 1e9);
            blockCpuSeconds.push_back(cpu - blockCpuStart);
            blockStart = now;
            blockCpuStart = cpu;
        }
    }
    QCoreApplication::processEvents();
    const std::int64_t rss = residentBytes() - rss0;
    const std::int64_t heap = heapBytes() - heap0;
    const long long logged = log->document()->isEmpty() ? 0 : log->blockCount();

    const auto perLineUs = [&](const std::vector<double> &blocks, std::size_t index) {
        return index < blocks.size() ? blocks[index] / double(block) * 1e6 : 0.0;
    };
    const double second = perLineUs(blockSeconds, 1), last = perLineUs(blockSeconds, 9);
    const double secondCpu = perLineUs(blockCpuSeconds, 1), lastCpu = perLineUs(blockCpuSeconds, 9);
    printLine(QStringLiteral("upload_log lines=%1 logged=%2 us_per_line_2nd_block=%3 "
                             "us_per_line_last_block=%4 time_ratio=%5 cpu_us_per_line_2nd_block=%6 "
                             "cpu_us_per_line_last_block=%7 cpu_ratio=%8 rss_bytes_per_line=%9 "
                             "heap_bytes_per_line=%10 messages=%11")
                  .arg(lines)
                  .arg(logged)
                  .arg(num(second, 2))
                  .arg(num(last, 2))
                  .arg(num(second > 0 ? last / second : 0, 3))
                  .arg(num(secondCpu, 2))
                  .arg(num(lastCpu, 2))
                  .arg(num(secondCpu > 0 ? lastCpu / secondCpu : 0, 3))
                  .arg(num(double(rss) / double(lines), 0))
                  .arg(num(double(heap) / double(lines), 0))
                  .arg(sink.count));
    return 0;
}
