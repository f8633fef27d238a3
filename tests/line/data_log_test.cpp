#include "operations/DataLog.h"
#include "support/FileSizeCap.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace kc;

namespace {

const QByteArray header =
    "\xEF\xBB\xBFtime,port,station,temperature_C,humidity_RH,alarm,outcome,response_ms\n";

// Times as a machine in China gives them, whatever the zone of the one testing.
const QDateTime evening(QDate(2026, 12, 6), QTime(23, 59, 59, 995), Qt::OffsetFromUTC, 8 * 3600);

LogRow rowAt(const QDateTime &t)
{
    return {t, "COM1", 1, "25.34", "-5.35", "正常", "应答正常 10.0 ms", 10.04};
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

} // namespace

// One file a day, named by the date its rows show, and a new part once a row
// would pass the size set; each file starts with the header. An upload record
// names no station.
TEST(DataLog, FilesByDayAndBySize)
{
    QTemporaryDir dir;
    const QByteArray row =
        "2026-12-06T23:59:59.995+08:00,COM1,1,25.34,-5.35,正常,应答正常 10.0 ms,10.0\n";
    DataLog log;
    log.setFolder(dir.path());
    log.setMaxBytes(header.size() + 2 * row.size());
    ASSERT_TRUE(log.write(rowAt(evening)));
    ASSERT_TRUE(log.write(rowAt(evening)));
    ASSERT_TRUE(log.write(rowAt(evening))); // a third would pass the size
    ASSERT_TRUE(
        log.write({evening.addMSecs(10), "/dev/ttyUSB0", 0, "25.3", "65.2", "", "主动上传"}));
    EXPECT_EQ(contents(dir.filePath("kc4420-2026-12-06.csv")), header + row + row);
    EXPECT_EQ(contents(dir.filePath("kc4420-2026-12-06_2.csv")), header + row);
    EXPECT_EQ(contents(dir.filePath("kc4420-2026-12-07.csv")),
              header + "2026-12-07T00:00:00.005+08:00,/dev/ttyUSB0,,25.3,65.2,,主动上传,\n");

    // A later run carries on in the day's last part, whatever room an earlier one has.
    DataLog again;
    again.setFolder(dir.path());
    ASSERT_TRUE(again.write(rowAt(evening)));
    EXPECT_EQ(contents(dir.filePath("kc4420-2026-12-06_2.csv")), header + row + row);

    DataLog nowhere;
    nowhere.setFolder("/proc/no-such-folder");
    EXPECT_FALSE(nowhere.write(rowAt(evening)));
    EXPECT_EQ(nowhere.error(), "无法创建数据记录文件夹：/proc/no-such-folder");
}

// Words that hold a comma, a quote or blanks at an end stay one field.
TEST(DataLog, RowsAsSpreadsheetsReadThem)
{
    EXPECT_EQ(DataLog::line({evening, "/dev/a,b", 7, "", "", " 报警", "say \"x\"", -1}),
              "2026-12-06T23:59:59.995+08:00,\"/dev/a,b\",7,,,\" 报警\",\"say \"\"x\"\"\",\n");
}

// A row cut short by an earlier run is ended before the next; a row or a
// header the disk cannot take is left out entirely, and said.
TEST(DataLog, WholeRowsAfterACutRowOrAFullDisk)
{
    const QByteArray row = DataLog::line(rowAt(evening));
    const QByteArray cut = row.left(30);
    const struct
    {
        const char *what;
        QByteArray before; // empty: no file yet
        rlim_t room;       // bytes the file may grow by
        QByteArray after;
        bool written;
    } cases[] = {
        {"cut row ended", header + cut, RLIM_INFINITY, header + cut + "\n" + row, true},
        {"row on a full disk", header + row, 10, header + row, false},
        {"header on a full disk", "", 10, "", false},
    };
    for (const auto &c : cases) {
        QTemporaryDir dir;
        const QString path = dir.filePath("kc4420-2026-12-06.csv");
        if (!c.before.isEmpty()) {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(c.before);
        }
        DataLog log;
        log.setFolder(dir.path());
        {
            const FileSizeCap cap(c.room == RLIM_INFINITY ? c.room : c.before.size() + c.room);
            EXPECT_EQ(log.write(rowAt(evening)), c.written) << c.what;
        }
        EXPECT_EQ(contents(path), c.after) << c.what;
        EXPECT_EQ(log.error(), c.written ? "" : "无法写入数据记录文件：" + path) << c.what;
    }
}

// The rows of a burst reach the disk shortly after its last one, and when the
// file closes; with no delay, each row before write() returns.
TEST(DataLog, RowsReachTheDiskAfterTheLastOne)
{
    QTemporaryDir dir;
    DataLog log;
    log.setFolder(dir.path());
    log.setSyncDelay(20);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(log.write(rowAt(evening)));
    const int burst = log.syncs();
    EXPECT_TRUE(QTest::qWaitFor([&] { return log.syncs() > burst; }, 10'000));
    ASSERT_TRUE(log.write(rowAt(evening)));
    const int closing = log.syncs();
    log.close();
    EXPECT_EQ(log.syncs(), closing + 1);
    log.setSyncDelay(0);
    ASSERT_TRUE(log.write(rowAt(evening)));
    ASSERT_TRUE(log.write(rowAt(evening)));
    EXPECT_EQ(log.syncs(), closing + 3);
}

// A program killed while it logs as fast as it can keeps every row it had
// logged, whole: each is in the file before write() returns. Killed eight
// times, at eight different moments.
TEST(DataLog, KilledMidwayKeepsEveryLoggedRow)
{
    const QDateTime at(QDate(2026, 12, 6), QTime(21, 5, 9));
    for (int run = 0; run < 8; ++run) {
        QTemporaryDir dir;
        int logged[2];
        ASSERT_EQ(pipe(logged), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            DataLog log;
            log.setFolder(dir.path());
            for (;;) {
                if (log.write(rowAt(at)))
                    (void)!::write(logged[1], "+", 1); // one byte a row written
            }
        }
        ::close(logged[1]);
        const QString path = dir.filePath("kc4420-2026-12-06.csv");
        for (int i = 0; i < 2000 && QFile(path).size() < 50'000 + 10'000 * run; ++i)
            QThread::usleep(300);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        qsizetype reported = 0;
        char buffer[4096];
        for (ssize_t n; (n = ::read(logged[0], buffer, sizeof buffer)) > 0;)
            reported += n;
        ::close(logged[0]);

        const QByteArray all = contents(path);
        ASSERT_TRUE(all.startsWith(header));
        const QList<QByteArray> rows = all.mid(header.size()).split('\n');
        ASSERT_GT(rows.size(), 100);
        // Only the row being written may be cut: the system copies a row that
        // straddles a page in two steps, and a kill can fall between them.
        EXPECT_TRUE(DataLog::line(rowAt(at)).startsWith(rows.last())) << run;
        for (qsizetype i = 0; i + 1 < rows.size(); ++i)
            ASSERT_EQ(rows[i] + '\n', DataLog::line(rowAt(at))) << "run " << run << " row " << i;
        // The one killed between its write and its report may be there too.
        EXPECT_GE(rows.size() - 1, reported) << run;
        EXPECT_LE(rows.size() - 1, reported + 1) << run;
    }
}
