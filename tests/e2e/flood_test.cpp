#include "e2e/E2eSupport.h"
#include "e2e/LiveWindow.h"

#include <QRegularExpression>

#include <algorithm>

#include <gtest/gtest.h>

namespace {

// The far end writes as fast as it can for a minute while the window sits with
// its start-up receive threshold of one byte, so every arrival is an event.
TEST(Flood, AMinuteOfFloodLeavesTheWindowResponsiveAndMemoryBounded)
{
    constexpr int floodSeconds = 60;
    constexpr int probeMs = 10;
    constexpr qint64 allowedGrowth = 4 * 1024 * 1024;
    SimProcess sim(FixedModule::arguments());
    ASSERT_TRUE(sim.ready());
    LiveWindow w(sim.ptyPath());
    ASSERT_TRUE(w.link->isOpen());
    ASSERT_EQ(w.link->rThreshold(), 1);
    Probe probe(probeMs);
    // The module looks for its line every 50 ms; twenty firings are surely longer.
    probe.pumpFirings(20);

    // The most flood deliveries the window handled without the probe getting a
    // turn: a loop that served the line before its timers would pile them up.
    int eventsSinceFiring = 0;
    int longestRun = 0;
    w.afterEvent = [&](int) { longestRun = std::max(longestRun, ++eventsSinceFiring); };
    probe.onFired = [&] { eventsSinceFiring = 0; };
    sim.command(QStringLiteral("flood %1").arg(floodSeconds));
    probe.reset();
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
        (floodSeconds + 60) * 1000);
    const qint64 residentLate = residentBytes();
    ASSERT_TRUE(ended) << "the module never reported the flood's end";

    static const QRegularExpression pattern(QStringLiteral("^FLOOD bytes=(\\d+) ms=(\\d+)$"));
    const auto match = pattern.match(report);
    ASSERT_TRUE(match.hasMatch()) << report.toStdString();
    const qint64 floodBytes = match.captured(1).toLongLong();
    const qint64 floodMs = match.captured(2).toLongLong();
    const int fired = probe.fired();
    RecordProperty("floodBytes", QString::number(floodBytes).toStdString());
    RecordProperty("receiveEvents", w.receiveEvents);
    RecordProperty("probeFired", fired);
    RecordProperty("probeMaxLatenessMs", int(probe.maxLatenessMs()));
    RecordProperty("probeP99LatenessMs", int(probe.latenessPercentileMs(0.99)));
    RecordProperty("residentGrowthBytes", int(residentLate - residentEarly));
    RecordProperty("longestRunWithoutProbe", longestRun);

    // It was a flood, and the window was in it.
    EXPECT_GT(floodBytes, 10 * 1024 * 1024);
    EXPECT_GT(w.receiveEvents, 1000);
    EXPECT_GE(floodMs, floodSeconds * 1000);
    // Counted against the module's own measure of the flood: a loop that stalled
    // for long would have let far fewer firings through. A quarter of the ideal
    // count leaves room for a machine shared with other builds.
    EXPECT_GE(fired, floodMs / probeMs / 4)
        << "probe fired " << fired << " times in " << floodMs << " ms; worst lateness "
        << probe.maxLatenessMs() << " ms";
    EXPECT_LE(longestRun, 50) << "deliveries handled in a row while the probe waited";
    ASSERT_GT(residentEarly, 0);
    EXPECT_LT(residentLate - residentEarly, allowedGrowth)
        << "early " << residentEarly << " late " << residentLate;
    EXPECT_EQ(w.lineLostEvents, 0);
    EXPECT_TRUE(w.link->isOpen());

    // Once the line is quiet again, a read works.
    const int events = w.receiveEvents;
    w.click("comDoOnce");
    ASSERT_TRUE(pumpUntil([&] {
        return w.receiveEvents > events &&
               w.text("txtState") == receivedText(readReply(1, FixedModule::words()));
    }));
    EXPECT_EQ(w.valueTexts().first(), FixedModule::rows()[0].shown);
    EXPECT_TRUE(w.messages.shown.isEmpty());
}

} // namespace
