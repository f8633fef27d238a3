#include "line/BusScan.h"
#include "line/LineEngine.h"
#include "support/FakeLink.h"


#include <gtest/gtest.h>

using namespace kc;

namespace {

// A scan on the fake link with a clock the test moves; the engine's timers are
// fired by hand, each step after the line's silence.
struct ScanHarness
{
    double now = 0;
    FakeLink *link = new FakeLink;
    LineEngine engine{link, [this] { return now; }};
    QList<ScanProgress> progress;
    QStringList found;
    int cancelled = 0;

    explicit ScanHarness(ScanRange range) : scan(&engine, range)
    {
        QObject::connect(&scan, &BusScan::progress, [&](const ScanProgress &p) { progress << p; });
        QObject::connect(&scan, &BusScan::moduleFound, [&](const FoundModule &m) {
            found << QStringLiteral("%1 %2 %3 %4")
                         .arg(m.station)
                         .arg(m.baud)
                         .arg(foundStatusText(m))
                         .arg(m.quick);
        });
        QObject::connect(&scan, &BusScan::finished,
                         [&](ScanEnd end) { cancelled += end == ScanEnd::Cancelled; });
    }
    void fire(const char *timer)
    {
        now += 5;
        QMetaObject::invokeMethod(engine.findChild<QObject *>(QString::fromLatin1(timer)),
                                  "timeout", Qt::DirectConnection);
    }
    void noReply()
    {
        now += 300;
        fire("engineDeadline");
    }
    void reply(const char *hex)
    {
        link->deliver(QByteArray::fromHex(hex));
        fire("engineWake");
    }
    QString last() const { return QStringLiteral("%1 ").arg(link->baud()) + link->written.last(); }

    BusScan scan;
};

ScanRange rangeOf(QList<int> bauds, int last, bool single)
{
    ScanRange r;
    r.bauds = std::move(bauds);
    for (int s = 1; s <= last; ++s)
        r.stations << s;
    r.singleModule = single;
    return r;
}

} // namespace

// No reply at 9600 leaves every station to probe there; told the line holds
// one module, a clean answer at 19200 settles that rate: the module is
// described and never probed again. The time left counts every probe still
// possible at its deadline. A cancel lets the probe in hand finish.
TEST(BusScan, QuickPassFullPassProgressAndCancel)
{
    ScanHarness h(rangeOf({9600, 19200}, 3, true));
    h.engine.open();
    h.scan.start();
    // 4 probes at 9600 (100 + 7.29 ms) and 4 at 19200 (100 + 3.65 ms).
    ASSERT_EQ(h.progress.size(), 1);
    EXPECT_EQ(h.progress[0].probesLeft, 8);
    EXPECT_NEAR(h.progress[0].msLeft, 843.75, 0.01);
    EXPECT_EQ(h.last(), "9600 FA 03 00 00 00 01 91 81");
    h.noReply();
    EXPECT_EQ(h.last(), "19200 FA 03 00 00 00 01 91 81");
    EXPECT_EQ(h.link->calls.filter("open").size(), 1); // the rate changed on the open port
    h.reply("07030209E6B79E");
    EXPECT_EQ(h.last(), "19200 07 03 00 00 00 02 C4 6D");
    h.noReply();
    EXPECT_EQ(h.last(), "19200 07 26 00 00 00 05 C8 68");
    h.noReply();
    EXPECT_EQ(h.found, QStringList{"7 19200 正常 1"});
    EXPECT_EQ(h.progress.last().probesLeft, 3);
    EXPECT_NEAR(h.progress.last().msLeft, 321.875, 0.01);

    EXPECT_EQ(h.last(), "9600 01 03 00 00 00 01 84 0A");
    h.noReply();
    EXPECT_EQ(h.last(), "9600 02 03 00 00 00 01 84 39");
    h.scan.cancel();
    h.reply("02030209E60000");
    EXPECT_EQ(h.found.last(), "2 9600 校验错误 0");
    EXPECT_EQ(h.progress.last().stationsDone, 2);
    EXPECT_EQ(h.cancelled, 1);
    EXPECT_EQ(h.link->written.size(), 6);
}

// Two modules answering the station-250 read do not always garble each other:
// the stronger may win cleanly. Unless told the line holds one module, the
// rate is probed station by station all the same, finding the other one, and
// the winner is listed once.
TEST(BusScan, ACleanQuickAnswerStillLeavesTheFullPass)
{
    ScanHarness h(rangeOf({9600}, 3, false));
    h.engine.open();
    h.scan.start();
    h.reply("02030209E67B9E"); // station 2 wins the station-250 read
    h.noReply();               // its readings
    h.noReply();               // its device text
    EXPECT_EQ(h.last(), "9600 01 03 00 00 00 01 84 0A");
    h.reply("01030200017984");
    h.noReply();
    h.noReply();
    EXPECT_EQ(h.last(), "9600 02 03 00 00 00 01 84 39");
    h.reply("02030200013D84"); // listed already: no second row
    EXPECT_EQ(h.last(), "9600 03 03 00 00 00 01 85 E8");
    h.noReply();
    EXPECT_EQ(h.found, QStringList({"2 9600 正常 1", "1 9600 正常 0"}));
}

// A module answering at every rate (as the simulated one does) is one module
// listing its rates, not one module a rate.
TEST(BusScan, OneModuleAtSeveralRatesIsOneModule)
{
    ScanHarness h(rangeOf({9600, 19200}, 3, true));
    int updates = 0;
    QObject::connect(&h.scan, &BusScan::moduleUpdated, [&](int index, const FoundModule &m) {
        ++updates;
        EXPECT_EQ(index, 0);
        EXPECT_EQ(m.otherBauds, QList<int>{19200});
    });
    h.engine.open();
    h.scan.start();
    for (int rate = 0; rate < 2; ++rate) {
        h.reply("07030209E6B79E"); // station 7 answers the station-250 read
        h.noReply();               // its readings
        h.noReply();               // its device text
    }
    ASSERT_EQ(h.scan.found().size(), 1);
    EXPECT_EQ(foundModuleFields(h.scan.found()[0])[1], "9600 19200");
    EXPECT_EQ(updates, 1);
}
