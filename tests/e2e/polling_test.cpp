#include "e2e/E2eSupport.h"
#include "e2e/LiveWindow.h"

#include <QTimer>

#include <gtest/gtest.h>

namespace {

TEST(Polling, AThousandCyclesAtFiftyMillisecondsEveryReplyDecoded)
{
    constexpr int cycles = 1000;
    SimProcess sim(FixedModule::arguments());
    ASSERT_TRUE(sim.ready());
    LiveWindow w(sim.ptyPath());
    ASSERT_TRUE(w.link->isOpen());

    const QString reply = receivedText(readReply(1, FixedModule::words()));
    int decoded = 0;
    int undecoded = 0;
    int foreignValues = 0;
    w.afterEvent = [&](int code) {
        if (code != kc::CommEventCode::Receive)
            return;
        if (w.text("txtState") == reply && w.lamp() == "imgConnected")
            ++decoded;
        else
            ++undecoded;
        if (!FixedModule::onlySentValues(w.valueTexts()))
            ++foreignValues;
    };

    w.type("txtTimerSet", "50");
    w.click("cmdOneM");
    ASSERT_EQ(w.window()->pollTimer()->interval(), 50);
    ASSERT_EQ(w.text("lblCounter"), "1");
    // The counter starts at 1, so it reads cycles + 1.
    ASSERT_TRUE(pumpUntil([&] { return w.number("lblCounter") > cycles; }, 240000))
        << "cycles sent: " << w.number("lblCounter") - 1;
    w.click("cmdStopOnce");
    const long long sent = w.number("lblCounter") - 1;
    // Only the last request may still be on its way; let it in.
    pumpUntil([&] { return decoded >= sent; }, 5000);
    Probe probe;
    probe.pumpFirings(10);

    EXPECT_GE(sent, cycles);
    EXPECT_GE(decoded, sent - 1);
    EXPECT_LE(decoded, sent);
    EXPECT_EQ(undecoded, 0);
    EXPECT_EQ(foreignValues, 0);
    EXPECT_EQ(w.number("lblErrCounter") - 1, w.receiveEvents);
    EXPECT_EQ(w.allEvents(), w.receiveEvents);
    const SimProcess::Stats stats = sim.stats();
    EXPECT_EQ(stats.requests, sent);
    EXPECT_EQ(stats.replies, sent);
    EXPECT_EQ(stats.ignored, 0);
    EXPECT_TRUE(w.messages.shown.isEmpty());
}

} // namespace
