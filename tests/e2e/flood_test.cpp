#include "e2e/E2eSupport.h"

#include <QTimer>

#include <algorithm>

#include <gtest/gtest.h>

namespace {

// The far end writes as fast as it can for a minute while the window sits with
// its start-up receive threshold of one byte, so every arrival is an event.
TEST(Flood, AMinuteOfFloodLeavesTheWindowResponsiveAndMemoryBounded)
{
    SimProcess sim(FixedModule::arguments());
    LiveWindow w(sim.ptyPath());
    ASSERT_TRUE(w.link->isOpen());
    ASSERT_EQ(w.link->rThreshold(), 1);
    // The module looks for its line every 50 ms; twenty ticks are surely longer.
    pumpTicks(20);

    // A 10 ms timer, and the most flood deliveries the window handled without it
    // getting a turn: a loop that served the line before its timers piles them up.
    QTimer probe;
    int fired = 0;
    int eventsSinceFiring = 0;
    int longestRun = 0;
    QObject::connect(&probe, &QTimer::timeout, [&] { ++fired, eventsSinceFiring = 0; });
    w.afterEvent = [&](int) { longestRun = std::max(longestRun, ++eventsSinceFiring); };
    sim.command(QStringLiteral("flood 60"));
    probe.start(10);
    // Memory is compared from the point where the window has handled a good
    // share of the flood, so first-use allocations are not counted as growth.
    qint64 residentEarly = -1;
    QString report;
    const bool ended = pumpUntil(
        [&] {
            if (residentEarly < 0 && w.receiveEvents >= 500)
                residentEarly = residentBytes();
            report = sim.readLine(0);
            return report.startsWith(QLatin1String("FLOOD "));
        },
        120000);
    const qint64 residentLate = residentBytes();
    ASSERT_TRUE(ended) << "the module never reported the flood's end";
    // "FLOOD bytes=N ms=M": it was a flood, and the window was in it.
    const qint64 floodMs = report.section(QStringLiteral("ms="), 1).toLongLong();
    EXPECT_GE(floodMs, 60000) << report.toStdString();
    EXPECT_GT(w.receiveEvents, 1000);
    // Counted against the module's own measure of the flood: a loop that stalled
    // for long would have let far fewer firings through. A quarter of the ideal
    // count leaves room for a machine shared with other builds.
    EXPECT_GE(fired, floodMs / 10 / 4) << "probe fired " << fired << " times in " << floodMs;
    EXPECT_LE(longestRun, 50) << "deliveries handled in a row while the probe waited";
    ASSERT_GT(residentEarly, 0);
    EXPECT_LT(residentLate - residentEarly, 4 * 1024 * 1024)
        << "early " << residentEarly << " late " << residentLate;
    EXPECT_EQ(w.lineLostEvents, 0);

    // Once the line is quiet again, a read works.
    const QString reply = receivedText(readReply(1, FixedModule::words));
    w.click("comDoOnce");
    ASSERT_TRUE(pumpUntil([&] { return w.text("txtState") == reply; }));
    EXPECT_EQ(w.valueTexts().join(" "), FixedModule::shown.join(" "));
    EXPECT_TRUE(w.messages.shown.isEmpty());
}

} // namespace
