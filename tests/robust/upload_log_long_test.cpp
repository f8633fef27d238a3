// A day's worth of upload records and more: a million records through the
// fake link into the upload log. Every line must arrive, memory must grow with
// the text alone, and each append must touch only the end of the log (a log
// rebuilt on every record would rewrite everything, and slow down as it grows).

#include "QtPrinting.h"
#include "window/WindowHarness.h"

#include <QTextBlock>
#include <QTextDocument>

#include <fstream>
#include <iostream>
#include <unistd.h>

namespace {

constexpr int records = 1000000;

long residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

// Record i carries a first reading of 0.0 to 999.9 and a second of -99.9 to
// 99.9, in tenths; the module writes a leading "-" in the hundreds place.
int firstTenths(int i)
{
    return i % 10000;
}
int secondTenths(int i)
{
    return int((std::int64_t(i) * 7) % 1999) - 999;
}

QByteArray record(int i)
{
    auto field = [](int tenths) {
        const int m = std::abs(tenths);
        return QString::asprintf("%c%d%d.%d", tenths < 0 ? '-' : char('0' + m / 1000), m / 100 % 10,
                                 m / 10 % 10, m % 10)
            .toLatin1();
    };
    return "[" + field(firstTenths(i)) + "," + field(secondTenths(i)) + "]";
}

// Stamped 2026-12-06 00:00:00 plus i seconds; readings without leading zeros or a ".0".
QString expectedLine(int i)
{
    auto reading = [](int tenths) {
        const int m = std::abs(tenths);
        return (tenths < 0 ? "-" : "") + QString::number(m / 10) +
               (m % 10 ? QStringLiteral(".%1").arg(m % 10) : QString());
    };
    const int second = i % 86400;
    return QString::asprintf("2026-12-%02d %02d:%02d:%02d ", 6 + i / 86400, second / 3600,
                             second / 60 % 60, second % 60) +
           reading(firstTenths(i)) + ' ' + reading(secondTenths(i));
}

} // namespace

TEST(UploadLogLong, AMillionRecordsEachAppendOnlyTheirLine)
{
    WindowHarness h;
    int current = 0;
    const QDateTime firstStamp(QDate(2026, 12, 6), QTime(0, 0, 0));
    h.window->setClock([&] { return firstStamp.addSecs(current); });
    h.click("Command3");
    QTextDocument *log = h.find<QPlainTextEdit>("txtUp")->document();

    int changes = 0, position = -1, removed = -1, added = -1;
    QObject::connect(log, &QTextDocument::contentsChange, [&](int p, int r, int a) {
        ++changes;
        position = p;
        removed = r;
        added = a;
    });

    // Checking each append costs a few comparisons; the first bad one is kept.
    int badAppends = 0;
    std::string firstBad;
    const long before = residentBytes();
    for (current = 0; current < records; ++current) {
        const int lengthBefore = log->characterCount(), changesBefore = changes;
        h.link->deliver(record(current));
        // One change at the old end (before the final paragraph mark), nothing
        // removed, the line and, after the first, its line break added.
        const int lineLength = int(expectedLine(current).size());
        const bool first = current == 0;
        if (changes != changesBefore + 1 || position != (first ? 0 : lengthBefore - 1) ||
            removed != 0 || added != lineLength + (first ? 0 : 1)) {
            if (badAppends++ == 0)
                firstBad = "record " + std::to_string(current) + ": " +
                           std::to_string(changes - changesBefore) + " changes, last at " +
                           std::to_string(position) + " removed " + std::to_string(removed) +
                           " added " + std::to_string(added);
        }
    }
    const long after = residentBytes();

    EXPECT_EQ(badAppends, 0) << firstBad;
    ASSERT_EQ(log->blockCount(), records);
    EXPECT_EQ(h.text("lblErrCounter"), QString::number(records));
    for (int i = 0; i < records; i += 997)
        EXPECT_EQ(log->findBlockByNumber(i).text(), expectedLine(i)) << "line " << i + 1;
    for (int i : {1, 9, 10, 86399, 86400, records - 1})
        EXPECT_EQ(log->findBlockByNumber(i).text(), expectedLine(i)) << "line " << i + 1;

    std::cout << "resident set grew by " << (after - before) / (1 << 20) << " MiB, "
              << (after - before) / records << " bytes a line\n";
    EXPECT_LE(after - before, long(records) * 1024);
}
