#include "e2e/E2eSupport.h"
#include "e2e/LiveWindow.h"

#include <QPushButton>

#include <gtest/gtest.h>

namespace {

// Each decoded reply sends the next request at once, for as many cycles as
// the machine allows; memory is measured once the first thousand are done.
TEST(Soak, TwentyThousandBackToBackCyclesWithFlatMemory)
{
    constexpr int cycles = 20000;
    constexpr int warmUp = 1000;
    constexpr qint64 allowedGrowth = 2 * 1024 * 1024;
    // A short frame gap lets the module answer as soon as the request is in.
    SimProcess sim(FixedModule::arguments()
                   << QStringLiteral("--frame-gap") << QStringLiteral("0.5"));
    ASSERT_TRUE(sim.ready());
    LiveWindow w(sim.ptyPath());
    ASSERT_TRUE(w.link->isOpen());
    auto *single = w.find<QPushButton>("comDoOnce");
    ASSERT_NE(single, nullptr);

    const QString reply = receivedText(readReply(1, FixedModule::words()));
    int decoded = 0;
    int undecoded = 0;
    int foreignValues = 0;
    qint64 residentAfterWarmUp = -1;
    w.afterEvent = [&](int code) {
        if (code != kc::CommEventCode::Receive)
            return;
        if (w.text("txtState") == reply && w.lamp() == "imgConnected")
            ++decoded;
        else
            ++undecoded;
        if (!FixedModule::onlySentValues(w.valueTexts()))
            ++foreignValues;
        if (decoded == warmUp && residentAfterWarmUp < 0)
            residentAfterWarmUp = residentBytes();
        if (w.number("lblCounter") - 1 < cycles)
            QMetaObject::invokeMethod(single, &QPushButton::click, Qt::QueuedConnection);
    };

    single->click();
    // Waits as long as replies keep coming; a lost one stops the chain.
    for (int last = -1; decoded < cycles && decoded != last;) {
        last = decoded;
        pumpUntil([&] { return decoded != last; }, 10000);
    }
    Probe probe;
    probe.pumpFirings(10);
    const qint64 residentAtEnd = residentBytes();

    EXPECT_EQ(decoded, cycles);
    EXPECT_EQ(undecoded, 0);
    EXPECT_EQ(foreignValues, 0);
    EXPECT_EQ(w.number("lblCounter") - 1, cycles);
    EXPECT_EQ(w.number("lblErrCounter") - 1, cycles);
    EXPECT_EQ(w.allEvents(), cycles);
    const SimProcess::Stats stats = sim.stats();
    EXPECT_EQ(stats.requests, cycles);
    EXPECT_EQ(stats.replies, cycles);
    ASSERT_GT(residentAfterWarmUp, 0);
    EXPECT_LT(residentAtEnd - residentAfterWarmUp, allowedGrowth)
        << "after warm-up " << residentAfterWarmUp << " at the end " << residentAtEnd;
    EXPECT_TRUE(w.messages.shown.isEmpty());
    RecordProperty("residentGrowthBytes", int(residentAtEnd - residentAfterWarmUp));
}

} // namespace
