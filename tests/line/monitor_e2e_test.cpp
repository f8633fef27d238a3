#include "line/Monitor.h"
#include "line/PortClaims.h"
#include "support/ModbusTcpServer.h"
#include "support/QtPrint.h"
#include "support/SimProcess.h"

#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace kc;

namespace {

long long answeredOn(const Monitor &monitor, int firstRow, int rows)
{
    long long n = 0;
    for (int r = firstRow; r < firstRow + rows; ++r)
        n += monitor.module(r).answered;
    return n;
}

bool allMarked(const Monitor &monitor, int firstRow, int rows, LineState state)
{
    for (int r = firstRow; r < firstRow + rows; ++r) {
        if (monitor.module(r).line != state)
            return false;
    }
    return true;
}

} // namespace

// Two lines of simulated modules, each under a stable name as an adapter's
// by-id name is. Line A is pulled and plugged back: its rows say so and it is
// reopened by itself; line B polls on undisturbed all the while.
TEST(MonitorLive, OneOfTwoLinesDroppedAndBack)
{
    QTemporaryDir dir;
    const QString lineA = dir.filePath("lineA"), lineB = dir.filePath("lineB");
    SimProcess simA({"--stations", "1-3", "--link", lineA, "--fixed"});
    SimProcess simB({"--stations", "5,6", "--link", lineB, "--fixed"});
    ASSERT_TRUE(simA.ready() && simB.ready());
    PortClaims claims;
    Monitor monitor(&claims);
    monitor.setTimeout(200);
    ASSERT_FALSE(monitor.add(lineA, "1-3", 9600));
    ASSERT_FALSE(monitor.add(lineB, "5,6", 9600));
    monitor.start();
    EXPECT_EQ(claims.holderOf(lineA), Holder::Monitor);

    ASSERT_TRUE(QTest::qWaitFor([&] { return answeredOn(monitor, 0, 5) >= 5 * 3; }, 10000));
    EXPECT_EQ(monitor.module(2).deviceText, "KC4420P-003");
    EXPECT_EQ(monitor.module(4).deviceText, "KC4420P-006");

    simA.command("drop");
    ASSERT_TRUE(QTest::qWaitFor([&] { return allMarked(monitor, 0, 3, LineState::Lost); }, 5000));
    const long long lineBBefore = answeredOn(monitor, 3, 2);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return answeredOn(monitor, 3, 2) >= lineBBefore + 10; }, 5000));
    EXPECT_TRUE(allMarked(monitor, 3, 2, LineState::Polling));
    EXPECT_TRUE(allMarked(monitor, 0, 3, LineState::Lost));

    simA.command("restore");
    const long long lineABefore = answeredOn(monitor, 0, 3);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return allMarked(monitor, 0, 3, LineState::Polling) && answeredOn(monitor, 0, 3) >= lineABefore + 6;
        },
        10000));
    for (int r = 0; r < 5; ++r)
        EXPECT_FALSE(monitor.module(r).dead) << r;

    monitor.stop();
    EXPECT_FALSE(claims.holderOf(lineA));
}

// A network line of each framing, polled, its connection dropped and made
// again by itself: its rows say "lost" once, and nothing more while the host
// refuses (no flicker of a line up, no second loss logged), then poll on.
TEST(MonitorLive, NetworkLineDroppedAndBack)
{
    SimProcess sim({"--stations", "1,2", "--tcp", "0", "--fixed"});
    ModbusTcpServer server({2534, 6520});
    ASSERT_TRUE(sim.ready() && server.port() > 0);
    const struct
    {
        QString port;
        std::function<void()> drop, restore;
    } cases[] = {
        {QStringLiteral("tcp://127.0.0.1:%1").arg(sim.tcpPort()), [&] { sim.command("drop"); },
         [&] {
             QTest::qWait(2500); // two attempts to connect again, refused
             sim.command("restore");
         }},
        {QStringLiteral("modbus-tcp://127.0.0.1:%1").arg(server.port()),
         [&] { server.dropClient(); }, [] {}},
    };
    for (const auto &c : cases) {
        PortClaims claims;
        Monitor monitor(&claims);
        monitor.setTimeout(200);
        ASSERT_FALSE(monitor.add(c.port, "1,2", 9600));
        QList<LineState> seen{LineState::Polling};
        int changes = 0;
        QObject::connect(&monitor, &Monitor::rowChanged, [&](int row) {
            changes += row == 0;
            if (row == 0 && monitor.module(0).line != seen.last())
                seen << monitor.module(0).line;
        });
        monitor.start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return answeredOn(monitor, 0, 2) >= 4; }, 10000));
        c.drop();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return allMarked(monitor, 0, 2, LineState::Lost); }, 5000));
        const int atLoss = changes;
        c.restore();
        EXPECT_EQ(changes, atLoss) << c.port.toStdString();
        const long long before = answeredOn(monitor, 0, 2);
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return answeredOn(monitor, 0, 2) >= before + 4; }, 10000));
        EXPECT_EQ(seen, QList<LineState>({LineState::Polling, LineState::Lost, LineState::Polling}))
            << c.port.toStdString();
        monitor.stop();
    }
}
