#include "line/BusScan.h"
#include "line/LineEngine.h"
#include "support/FakeSerialLink.h"

#include <QTimer>

#include <gtest/gtest.h>

using namespace kc;

namespace {

// A scan on the fake link with a clock the test moves; the engine's timers are
// fired by hand, each step after the line's silence.
struct ScanHarness
{
    double now = 0;
    FakeSerialLink *link = new FakeSerialLink;
    LineEngine engine{link, [this] { return now; }};
    QList<ScanProgress> progress;
    QStringList found;
    int finished = 0;

    void fire(const char *timer)
    {
        now += 5;
        QMetaObject::invokeMethod(engine.findChild<QTimer *>(QString::fromLatin1(timer)), "timeout",
                                  Qt::DirectConnection);
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
    QString last() const { return link->settings() + " " + link->written.last(); }
};

} // namespace

// No reply at 9600 leaves every station to probe there; a clean answer at
// 19200 is the module alone at that rate, described and never probed again.
// The time left counts every probe still possible at its deadline. A cancel
// lets the probe in hand finish and sends nothing more.
TEST(BusScan, QuickPassFullPassProgressAndCancel)
{
    ScanHarness h;
    h.link->setCommPort(1);
    ScanRange range;
    range.bauds = {9600, 19200};
    range.last = 3;
    BusScan scan(&h.engine, range);
    QObject::connect(&scan, &BusScan::progress, [&](const ScanProgress &p) { h.progress << p; });
    QObject::connect(&scan, &BusScan::moduleFound, [&](const FoundModule &m) {
        h.found
            << QStringLiteral("%1 %2 %3 %4").arg(m.station).arg(m.baud).arg(m.status).arg(m.quick);
    });
    QObject::connect(&scan, &BusScan::finished, [&](bool cancelled, const QString &error) {
        h.finished += cancelled && error.isEmpty();
    });
    scan.start();
    // 4 probes at 9600 (100 + 7.29 ms) and 4 at 19200 (100 + 3.65 ms).
    ASSERT_EQ(h.progress.size(), 1);
    EXPECT_EQ(h.progress[0].probesLeft, 8);
    EXPECT_NEAR(h.progress[0].msLeft, 843.75, 0.01);
    EXPECT_EQ(h.last(), "9600,N,8,1 FA 03 00 00 00 01 91 81");
    h.noReply();
    EXPECT_EQ(h.last(), "19200,N,8,1 FA 03 00 00 00 01 91 81");
    EXPECT_EQ(h.link->calls.filter("open").size(), 1); // the rate changed on the open port
    h.reply("07030209E6B79E");
    EXPECT_EQ(h.last(), "19200,N,8,1 07 03 00 00 00 02 C4 6D");
    h.noReply();
    EXPECT_EQ(h.last(), "19200,N,8,1 07 26 00 00 00 05 C8 68");
    h.noReply();
    EXPECT_EQ(h.found, QStringList{"7 19200 正常 1"});
    EXPECT_EQ(h.progress.last().probesLeft, 3);
    EXPECT_NEAR(h.progress.last().msLeft, 321.875, 0.01);

    EXPECT_EQ(h.last(), "9600,N,8,1 01 03 00 00 00 01 84 0A");
    h.noReply();
    EXPECT_EQ(h.last(), "9600,N,8,1 02 03 00 00 00 01 84 39");
    scan.cancel();
    h.reply("02030209E60000");
    EXPECT_EQ(h.found.last(), "2 9600 校验错误 0");
    EXPECT_EQ(h.progress.last().stationsDone, 2);
    EXPECT_EQ(h.finished, 1);
    EXPECT_EQ(h.link->written.size(), 6);
}
