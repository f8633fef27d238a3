#include "e2e/E2eSupport.h"

#include "operations/Messages.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The far end goes away while the window polls: the module drops the line and
// with it the path that named it, as a pulled adapter takes its stable name.
TEST(FarEndLoss, RedLampNoStormNothingSentAndReopenWorks)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("com1"));
    SimProcess sim(FixedModule::arguments() << "--link" << path);
    // Held open here, the first pseudo-terminal keeps its number after the drop,
    // so the module comes back under another: the window must follow the path.
    const int held = ::open(QFile::encodeName(sim.ptyPath()), O_RDWR | O_NOCTTY | O_NONBLOCK);
    LiveWindow w(path);
    ASSERT_TRUE(w.link->isOpen());
    DecodeWatch watch(w);

    w.type("txtTimerSet", "50");
    w.click("cmdOneM");
    ASSERT_TRUE(pumpUntil([&] { return watch.decoded >= 5; }));
    sim.command("drop");
    // The link sees the line go, closes the port, and a later tick finds it closed.
    ASSERT_TRUE(pumpUntil([&] { return !w.window()->state().LoopOn; }));
    EXPECT_FALSE(w.link->isOpen());
    EXPECT_EQ(w.lineLostEvents, 1);
    EXPECT_EQ(w.lamp(), "imgNotConnected");
    EXPECT_EQ(w.messages.texts(), QStringList{kc::msg::portClosed});

    // The poll timer goes on; with LoopOn cleared its ticks neither count, send
    // nor speak. Sixty 10 ms ticks see about a dozen of its.
    const long long cycles = w.number("lblCounter");
    ASSERT_TRUE(pumpTicks(60));
    EXPECT_EQ(w.number("lblCounter"), cycles);
    EXPECT_EQ(w.messages.shown.size(), 1);

    // Opening while the far end is missing fails and says so, once.
    w.click("cmdCom");
    EXPECT_FALSE(w.link->isOpen());
    EXPECT_EQ(w.lamp(), "imgNotConnected");
    EXPECT_EQ(w.messages.texts(), (QStringList{kc::msg::portClosed, kc::msg::portBusy}));

    // Back under the same path, but nothing goes out until the operator reopens.
    sim.command("restore");
    ASSERT_TRUE(pumpUntil([&] { return QFileInfo::exists(path); }));
    const long long requestsBack = sim.stats().requests;
    ASSERT_TRUE(pumpTicks(60));
    EXPECT_EQ(sim.stats().requests, requestsBack);
    EXPECT_EQ(w.number("lblCounter"), cycles);

    w.click("cmdCom");
    ASSERT_TRUE(w.link->isOpen());
    EXPECT_EQ(w.lamp(), "imgConnected");
    const int decodedBefore = watch.decoded;
    ASSERT_TRUE(w.request("comDoOnce"));
    EXPECT_EQ(watch.decoded, decodedBefore + 1);
    EXPECT_EQ(sim.stats().requests, requestsBack + 1);
    EXPECT_EQ(w.messages.shown.size(), 2);
    EXPECT_EQ(watch.foreignValues, 0);
    ::close(held);
}

TEST(DamagedLine, OnlyValuesTheModuleSentAndCountersRight)
{
    struct Fault
    {
        const char *options;
        int cycles;
        // Replies decoded and deliveries refused. With noise between the replies:
        // at least so many, and that many deliveries of pure noise.
        int decoded;
        int refused;
        bool noise = false;
    };
    const Fault faults[] = {
        {"--noise", 30, 15, 2, true},
        {"--split 1 --split-gap 1", 20, 20, 0}, // single bytes with gaps
        {"--random-split", 40, 40, 0},
        {"--duplicate-every 2", 40, 40, 0}, // two replies in one delivery
        // Every third reply has one bit flipped: those are shown but not decoded.
        {"--flip-every 3", 30, 20, 10},
    };
    for (const Fault &f : faults) {
        SCOPED_TRACE(f.options);
        SimProcess sim(FixedModule::arguments()
                       << "--seed"
                       << "11" << QString(f.options).split(QLatin1Char(' ')));
        LiveWindow w(sim.ptyPath());
        ASSERT_TRUE(w.link->isOpen());
        DecodeWatch watch(w);
        const long long countersAt = w.number("lblErrCounter");
        int noiseWaiting = 0; // cycles that found bytes from between the replies on the line
        for (int cycle = 0; cycle < f.cycles; ++cycle) {
            if (f.noise) {
                pumpTicks(8);
                noiseWaiting += w.link->buffered() > 0;
            }
            // Waiting for the event, so a reply cut into pieces is not cut short
            // by the next request.
            ASSERT_TRUE(w.request("comDoOnce")) << "cycle " << cycle;
        }
        // Left armed for a register reply, the window gets deliveries of pure noise.
        const int events = w.receiveEvents;
        const int noiseDeliveries = f.noise ? f.refused : 0;
        ASSERT_TRUE(pumpUntil([&] { return w.receiveEvents >= events + noiseDeliveries; }, 60000));
        // Whatever is still on its way is let in before the counts are taken.
        pumpTicks(20);

        if (f.noise) {
            EXPECT_GT(noiseWaiting, 0) << "no noise reached the window";
        }
        EXPECT_EQ(watch.foreignValues, 0);
        EXPECT_TRUE(f.noise ? watch.decoded >= f.decoded : watch.decoded == f.decoded)
            << watch.decoded << " replies decoded";
        EXPECT_TRUE(f.noise ? watch.rejected >= f.refused : watch.rejected == f.refused)
            << watch.rejected << " deliveries refused";
        EXPECT_EQ(w.number("lblCounter") - 1, f.cycles);
        EXPECT_EQ(sim.stats().replies, f.cycles);
        EXPECT_EQ(w.number("lblErrCounter") - countersAt, w.allEvents());
        EXPECT_EQ(w.otherEvents + w.lineLostEvents, 0);
        EXPECT_TRUE(w.messages.shown.isEmpty());
    }
}

TEST(SilentModule, YellowLampNoHangAndTheNextReadWorks)
{
    SimProcess sim(FixedModule::arguments());
    LiveWindow w(sim.ptyPath());
    ASSERT_TRUE(w.link->isOpen());
    DecodeWatch watch(w);
    sim.command("silent on");

    w.click("comDoOnce");
    EXPECT_EQ(w.lamp(), "ImgYellow");
    ASSERT_TRUE(pumpUntil([&] { return sim.stats().ignored == 1; }));
    // The event loop keeps turning while no answer comes.
    ASSERT_TRUE(pumpTicks(20));
    EXPECT_EQ(w.allEvents(), 0);
    EXPECT_EQ(w.lamp(), "ImgYellow");
    EXPECT_EQ(w.text("lblCounter") + "/" + w.text("lblErrCounter"), "2/1");

    sim.command("silent off");
    ASSERT_TRUE(w.request("comDoOnce"));
    EXPECT_EQ(watch.exact, 1);
    EXPECT_EQ(w.valueTexts().join(" "), FixedModule::shown.join(" "));
    EXPECT_EQ(w.text("lblCounter") + "/" + w.text("lblErrCounter"), "3/2");
    EXPECT_EQ(sim.stats().replies, 1);
    EXPECT_TRUE(w.messages.shown.isEmpty());
}

} // namespace
