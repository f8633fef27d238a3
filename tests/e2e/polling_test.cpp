#include "e2e/E2eSupport.h"

#include <QTimer>

#include <gtest/gtest.h>

namespace {

TEST(Polling, AThousandCyclesAtFiftyMillisecondsEveryReplyDecoded)
{
    constexpr int cycles = 1000;
    SimProcess sim(FixedModule::arguments());
    LiveWindow w(sim.ptyPath());
    ASSERT_TRUE(w.link->isOpen());
    DecodeWatch watch(w);

    w.type("txtTimerSet", "50");
    w.click("cmdOneM");
    ASSERT_EQ(w.window()->pollTimer()->interval(), 50);
    // The counter starts at 1, so it reads cycles + 1.
    ASSERT_TRUE(pumpUntil([&] { return w.number("lblCounter") > cycles; }, 240000))
        << "cycles sent: " << w.number("lblCounter") - 1;
    w.click("cmdStopOnce");
    const long long sent = w.number("lblCounter") - 1;
    // Only the last request may still be on its way; let it in.
    pumpUntil([&] { return watch.exact >= sent; }, 5000);
    pumpTicks(10);

    EXPECT_GE(sent, cycles);
    EXPECT_GE(watch.exact, sent - 1);
    EXPECT_EQ(watch.exact, w.allEvents());
    EXPECT_EQ(watch.foreignValues, 0);
    EXPECT_EQ(w.number("lblErrCounter") - 1, w.receiveEvents);
    // Each request counted went out, and nothing more: the module answered each.
    EXPECT_EQ(sim.stats().replies, sent);
    EXPECT_TRUE(w.messages.shown.isEmpty());
}

} // namespace
