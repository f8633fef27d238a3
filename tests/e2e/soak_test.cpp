#include "e2e/E2eSupport.h"

#include <QPushButton>

#include <gtest/gtest.h>

namespace {

// Each decoded reply sends the next request at once, for as many cycles as
// the machine allows; memory is measured once the first thousand are done.
TEST(Soak, TwentyThousandBackToBackCyclesWithFlatMemory)
{
    constexpr int cycles = 20000;
    // A short frame gap lets the module answer as soon as the request is in.
    SimProcess sim(FixedModule::arguments() << "--frame-gap"
                                            << "0.5");
    LiveWindow w(sim.ptyPath());
    ASSERT_TRUE(w.link->isOpen());
    auto *single = w.window()->findChild<QPushButton *>("comDoOnce");
    ASSERT_NE(single, nullptr);
    DecodeWatch watch(w);
    qint64 residentAfterWarmUp = -1;
    watch.then = [&](int) {
        if (watch.exact == 1000 && residentAfterWarmUp < 0)
            residentAfterWarmUp = residentBytes();
        if (w.number("lblCounter") - 1 < cycles)
            QMetaObject::invokeMethod(single, &QPushButton::click, Qt::QueuedConnection);
    };

    single->click();
    // Waits as long as replies keep coming; a lost one stops the chain.
    for (int last = -1; watch.exact < cycles && watch.exact != last;) {
        last = watch.exact;
        pumpUntil([&] { return watch.exact != last; }, 10000);
    }
    pumpTicks(10);
    const qint64 residentAtEnd = residentBytes();

    EXPECT_EQ(watch.exact, cycles);
    EXPECT_EQ(w.allEvents(), cycles);
    EXPECT_EQ(watch.foreignValues, 0);
    EXPECT_EQ(w.number("lblCounter") - 1, cycles);
    EXPECT_EQ(w.number("lblErrCounter") - 1, cycles);
    EXPECT_EQ(sim.stats().replies, cycles);
    ASSERT_GT(residentAfterWarmUp, 0);
    EXPECT_LT(residentAtEnd - residentAfterWarmUp, 2 * 1024 * 1024)
        << "after warm-up " << residentAfterWarmUp << " at the end " << residentAtEnd;
    EXPECT_TRUE(w.messages.shown.isEmpty());
}

} // namespace
