#include "e2e/E2eSupport.h"
#include "e2e/LiveWindow.h"

#include "operations/Messages.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

namespace {

// Counts replies the window decoded into the fifteen boxes, and catches any
// moment a box shows a value the module did not send.
struct DecodeWatch
{
    explicit DecodeWatch(LiveWindow &w) : window(w)
    {
        expectedState = receivedText(readReply(1, FixedModule::words()));
        w.afterEvent = [this](int code) {
            if (!FixedModule::onlySentValues(window.valueTexts()))
                ++foreignValues;
            if (code != kc::CommEventCode::Receive)
                return;
            // Two replies in one delivery decode as the first.
            if (window.text("txtState").startsWith(expectedState) &&
                window.lamp() == "imgConnected")
                ++decoded;
            else if (window.lamp() == "imgNotConnected")
                ++rejected;
        };
    }

    LiveWindow &window;
    QString expectedState;
    int decoded = 0;
    int rejected = 0;
    int foreignValues = 0;
};

// The far end goes away while the window polls: by the module's own "drop", or
// by the module's process ending. It comes back under the same path.
enum class Loss { Drop, ProcessEnds };

void PrintTo(Loss loss, std::ostream *out)
{
    *out << (loss == Loss::Drop ? "drop" : "process ends");
}

class FarEndLoss : public ::testing::TestWithParam<Loss>
{
};

TEST_P(FarEndLoss, RedLampNoStormNothingSentAndReopenWorks)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("com1"));
    QStringList args = FixedModule::arguments() << QStringLiteral("--link") << path;
    auto sim = std::make_unique<SimProcess>(args);
    ASSERT_TRUE(sim->ready());
    LiveWindow w(path);
    ASSERT_TRUE(w.link->isOpen());
    DecodeWatch watch(w);
    int ticks = 0;
    QObject::connect(w.window()->pollTimer(), &QTimer::timeout, [&] { ++ticks; });

    w.type("txtTimerSet", "50");
    w.click("cmdOneM");
    ASSERT_TRUE(pumpUntil([&] { return watch.decoded >= 5; }));

    if (GetParam() == Loss::Drop)
        sim->command("drop");
    else
        sim.reset();
    // The link sees the line go, closes the port, and a later tick finds it closed.
    ASSERT_TRUE(pumpUntil([&] { return !w.state().LoopOn; }));
    EXPECT_FALSE(w.link->isOpen());
    EXPECT_EQ(w.lineLostEvents, 1);
    EXPECT_EQ(w.lamp(), "imgNotConnected");
    EXPECT_EQ(w.messages.texts(), QStringList{kc::msg::portClosed});
    EXPECT_TRUE(w.window()->pollTimer()->isActive());

    // Ticks go on; with LoopOn cleared they neither count, send nor speak.
    const long long cycles = w.number("lblCounter");
    const int ticksBefore = ticks;
    ASSERT_TRUE(pumpUntil([&] { return ticks >= ticksBefore + 10; }));
    EXPECT_EQ(w.number("lblCounter"), cycles);
    EXPECT_EQ(w.messages.shown.size(), 1);

    // Opening while the far end is missing fails and says so, once.
    w.click("cmdCom");
    EXPECT_FALSE(w.link->isOpen());
    EXPECT_EQ(w.lamp(), "imgNotConnected");
    EXPECT_EQ(w.messages.texts(), (QStringList{kc::msg::portClosed, kc::msg::portBusy}));

    if (GetParam() == Loss::Drop) {
        sim->command("restore");
        ASSERT_FALSE(nextPtyLine(*sim).isEmpty());
    } else {
        sim = std::make_unique<SimProcess>(args);
        ASSERT_TRUE(sim->ready());
    }
    // Back, but nothing goes out until the operator reopens.
    const long long requestsBack = sim->stats().requests;
    const int ticksBack = ticks;
    ASSERT_TRUE(pumpUntil([&] { return ticks >= ticksBack + 10; }));
    EXPECT_EQ(sim->stats().requests, requestsBack);
    EXPECT_EQ(w.number("lblCounter"), cycles);

    w.click("cmdCom");
    ASSERT_TRUE(w.link->isOpen());
    EXPECT_EQ(w.lamp(), "imgConnected");
    const int decodedBefore = watch.decoded;
    w.click("comDoOnce");
    ASSERT_TRUE(pumpUntil([&] { return watch.decoded == decodedBefore + 1; }));
    EXPECT_EQ(sim->stats().requests, requestsBack + 1);
    EXPECT_EQ(w.messages.shown.size(), 2);
    EXPECT_EQ(watch.foreignValues, 0);
    w.click("cmdStopOnce");
}

INSTANTIATE_TEST_SUITE_P(Ways, FarEndLoss, ::testing::Values(Loss::Drop, Loss::ProcessEnds),
                         [](const auto &info) {
                             return info.param == Loss::Drop ? "Drop" : "ProcessEnds";
                         });

struct NoiseCase
{
    const char *name;
    QStringList options;
    int cycles;
    // Cycles whose reply must be decoded and deliveries that must be refused
    // (-1: at least half decoded, and every noise delivery refused).
    int mustDecode;
    int mustReject;
    // Probe firings to wait after each reply, letting noise collect on the line.
    int pauseFirings = 0;
    // Deliveries of nothing but noise to wait for once the cycles are done.
    int noiseDeliveries = 0;
};

void PrintTo(const NoiseCase &c, std::ostream *out)
{
    *out << c.name;
}

class DamagedLine : public ::testing::TestWithParam<NoiseCase>
{
};

// Each cycle is one "单次" and waits for the window's next receive event, so a
// reply cut into pieces is not cut short by the next request.
TEST_P(DamagedLine, OnlyValuesTheModuleSentAndCountersRight)
{
    const NoiseCase &c = GetParam();
    SimProcess sim(FixedModule::arguments()
                   << QStringLiteral("--seed") << QStringLiteral("11") << c.options);
    ASSERT_TRUE(sim.ready());
    LiveWindow w(sim.ptyPath());
    ASSERT_TRUE(w.link->isOpen());
    DecodeWatch watch(w);
    const long long countersAt = w.number("lblErrCounter");

    Probe probe;
    int decodedCycles = 0;
    int noiseWaiting = 0; // cycles that found bytes from between the replies on the line
    for (int cycle = 0; cycle < c.cycles; ++cycle) {
        if (c.pauseFirings > 0) {
            probe.pumpFirings(c.pauseFirings);
            noiseWaiting += w.link->buffered() > 0 ? 1 : 0;
        }
        const int events = w.receiveEvents;
        const int decoded = watch.decoded;
        w.click("comDoOnce");
        ASSERT_TRUE(pumpUntil([&] { return w.receiveEvents > events; })) << "cycle " << cycle;
        decodedCycles += watch.decoded > decoded ? 1 : 0;
    }
    if (c.pauseFirings > 0) {
        EXPECT_GE(noiseWaiting, 1) << "no noise reached the window";
    }
    // Left armed for a register reply, the window gets deliveries of pure noise.
    const int events = w.receiveEvents;
    ASSERT_TRUE(pumpUntil([&] { return w.receiveEvents >= events + c.noiseDeliveries; }, 60000));
    // Whatever is still on its way is let in before the counts are taken.
    probe.pumpFirings(20);

    EXPECT_EQ(watch.foreignValues, 0);
    EXPECT_TRUE(FixedModule::onlySentValues(w.valueTexts()))
        << w.valueTexts().join(' ').toStdString();
    if (c.mustDecode >= 0) {
        EXPECT_EQ(decodedCycles, c.mustDecode);
        EXPECT_EQ(watch.rejected, c.mustReject);
    } else {
        EXPECT_GE(decodedCycles, c.cycles / 2);
        EXPECT_GE(watch.rejected, c.noiseDeliveries);
    }
    const SimProcess::Stats stats = sim.stats();
    EXPECT_EQ(w.number("lblCounter") - 1, c.cycles);
    EXPECT_EQ(stats.requests, c.cycles);
    EXPECT_EQ(stats.replies, c.cycles);
    EXPECT_EQ(w.number("lblErrCounter") - countersAt, w.allEvents());
    EXPECT_EQ(w.otherEvents + w.lineLostEvents, 0);
    EXPECT_TRUE(w.messages.shown.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DamagedLine,
    ::testing::Values(
        NoiseCase{"NoiseBetweenReplies", {QStringLiteral("--noise")}, 30, -1, -1, 8, 2},
        NoiseCase{"SingleBytesWithGaps",
                  {QStringLiteral("--split"), QStringLiteral("1"), QStringLiteral("--split-gap"),
                   QStringLiteral("1")},
                  20,
                  20,
                  0},
        NoiseCase{"RandomPieces", {QStringLiteral("--random-split")}, 40, 40, 0},
        NoiseCase{"TwoRepliesInOneDelivery",
                  {QStringLiteral("--duplicate-every"), QStringLiteral("2")},
                  40,
                  40,
                  0},
        // Every third reply has one bit flipped: those are shown but not decoded.
        NoiseCase{
            "OneFlippedBit", {QStringLiteral("--flip-every"), QStringLiteral("3")}, 30, 20, 10}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(SilentModule, YellowLampNoHangAndTheNextReadWorks)
{
    SimProcess sim(FixedModule::arguments());
    ASSERT_TRUE(sim.ready());
    LiveWindow w(sim.ptyPath());
    ASSERT_TRUE(w.link->isOpen());
    DecodeWatch watch(w);
    sim.command("silent on");

    w.click("comDoOnce");
    EXPECT_EQ(w.lamp(), "ImgYellow");
    Probe probe;
    ASSERT_TRUE(pumpUntil([&] { return sim.stats().ignored == 1; }));
    // The event loop keeps turning while no answer comes.
    ASSERT_TRUE(probe.pumpFirings(20));
    EXPECT_EQ(w.allEvents(), 0);
    EXPECT_EQ(w.lamp(), "ImgYellow");
    EXPECT_EQ(w.text("txtState"), "");
    EXPECT_EQ(w.text("lblCounter"), "2");
    EXPECT_EQ(w.text("lblErrCounter"), "1");

    sim.command("silent off");
    w.click("comDoOnce");
    ASSERT_TRUE(pumpUntil([&] { return watch.decoded == 1; }));
    EXPECT_EQ(w.lamp(), "imgConnected");
    EXPECT_EQ(w.valueTexts().first(), FixedModule::rows()[0].shown);
    EXPECT_EQ(w.text("lblCounter"), "3");
    EXPECT_EQ(w.text("lblErrCounter"), "2");
    const SimProcess::Stats stats = sim.stats();
    EXPECT_EQ(stats.requests, 2);
    EXPECT_EQ(stats.replies, 1);
    EXPECT_TRUE(w.messages.shown.isEmpty());
}

} // namespace
