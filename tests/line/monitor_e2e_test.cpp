#include "line/Monitor.h"
#include "line/PortClaims.h"
#include "support/ModbusTcpServer.h"
#include "support/QtPrint.h"
#include "support/SimProcess.h"

#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace kc;

// A line of each kind, polled, dropped and made again by itself: a serial one
// under a stable name as an adapter's by-id name is, and a network one of each
// framing. Its rows say "lost" once, and nothing more while the line stays away
// (no flicker of a line up, no second loss logged), then poll on; another line
// polls on undisturbed all the while.
TEST(MonitorLive, LineDroppedAndBack)
{
    QTemporaryDir dir;
    const QString serial = dir.filePath("lineA"), other = dir.filePath("lineB");
    SimProcess serialSim({"--stations", "1,2", "--link", serial, "--fixed"});
    SimProcess sim({"--stations", "1,2", "--tcp", "0", "--fixed"});
    SimProcess otherSim({"--stations", "5", "--link", other, "--fixed"});
    ModbusTcpServer server({2534, 6520});
    ASSERT_TRUE(serialSim.ready() && sim.ready() && otherSim.ready() && server.port() > 0);
    // Long enough for two attempts to open again, which fail.
    const auto awayThenBack = [](SimProcess &s) {
        return [&s] {
            QTest::qWait(2500);
            s.command("restore");
        };
    };
    const struct
    {
        QString port;
        std::function<void()> drop, restore;
    } cases[] = {
        {serial, [&] { serialSim.command("drop"); }, awayThenBack(serialSim)},
        {QStringLiteral("tcp://127.0.0.1:%1").arg(sim.tcpPort()), [&] { sim.command("drop"); },
         awayThenBack(sim)},
        {QStringLiteral("modbus-tcp://127.0.0.1:%1").arg(server.port()),
         [&] { server.dropClient(); }, [] {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.port.toStdString());
        // Before the monitor, so they outlive its last signal.
        QList<LineState> seen{LineState::Polling};
        int changes = 0;
        PortClaims claims;
        Monitor monitor(&claims);
        monitor.setTimeout(200);
        ASSERT_FALSE(monitor.add(c.port, "1,2", 9600));
        ASSERT_FALSE(monitor.add(other, "5", 9600));
        const auto answered = [&] {
            return monitor.module(0).answered + monitor.module(1).answered;
        };
        QObject::connect(&monitor, &Monitor::rowChanged, [&](int row) {
            changes += row == 0;
            if (row == 0 && monitor.module(0).line != seen.last())
                seen << monitor.module(0).line;
        });
        monitor.start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return answered() >= 4; }, 10000));
        c.drop();
        // Row 0's states are in seen.
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return monitor.module(1).line == LineState::Lost; }, 5000));
        const int atLoss = changes;
        const long long otherAtLoss = monitor.module(2).answered;
        c.restore();
        EXPECT_EQ(changes, atLoss);
        const long long before = answered();
        ASSERT_TRUE(QTest::qWaitFor([&] { return answered() >= before + 4; }, 10000));
        EXPECT_EQ(seen,
                  QList<LineState>({LineState::Polling, LineState::Lost, LineState::Polling}));
        EXPECT_GT(monitor.module(2).answered, otherAtLoss);
        EXPECT_EQ(monitor.module(2).line, LineState::Polling);
        monitor.stop();
    }
}
