#include "WindowHarness.h"

#include "operations/Messages.h"
#include "protocol/FrameCodec.h"
#include "operations/Replies.h"
#include "support/Frames.h"

using namespace kc;

TEST(SingleRead, StartUpTextsSendTheDefaultRead)
{
    WindowHarness h;
    h.link->clearCalls();
    h.click("comDoOnce");
    EXPECT_EQ(h.link->calls,
              QStringList({"discardInput", "inputLen=0", "inputMode=1", "rThreshold=0",
                           "rThreshold=35", "write 01 03 00 00 00 0F 05 CE"}));
    EXPECT_EQ(h.text("txtCommand"), "01 03 00 00 00 0F 05 CE ");
    EXPECT_EQ(h.state().RecLength, 35);
    EXPECT_EQ(h.state().CmdType, RequestKind::RegisterRead);
    EXPECT_EQ(h.text("lblCounter"), "2");
    EXPECT_EQ(h.window->frontLamp(), "ImgYellow");

    // The reply fills the fifteen boxes and brings the green lamp forward.
    const QByteArray reply =
        readReply({2534, 6520, 0, 65435, 0, 5000, 64535, 9000, 1000, 1, 2, 5, 9600, 1, 2});
    h.link->deliver(reply);
    EXPECT_EQ(h.text("txtState"), receivedTrace(reply));
    const char *expected[15] = {"25.34", "65.20", "0", "-1.00", "0.00", "50.00", "-10.00", "90.00",
                                "10.00", "1",     "2", "5",     "9600", "1",     "2"};
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(h.text(QStringLiteral("txtValue_%1").arg(i)), expected[i]) << i;
    EXPECT_EQ(h.text("lblErrCounter"), "2");
    EXPECT_EQ(h.window->frontLamp(), "imgConnected");
}

TEST(SingleRead, RefusalsChangeNothing)
{
    struct Case
    {
        const char *box, *text;
        QString message;
    };
    const Case cases[] = {
        {"txtStationID", "abc", msg::badStation}, {"txtStationID", "256", msg::badStation},
        {"txtFunID", "", msg::badFunction},       {"txtFunID", "300", msg::badFunction},
        {"txtDataLength", "x", msg::badLength},   {"txtStartID", "x", msg::badStart},
        {"txtStartID", "300", msg::badStart},     {"txtDataLength", "16", msg::lengthRange},
        {"txtDataLength", "0", msg::lengthRange},
    };
    for (const auto &c : cases) {
        WindowHarness h;
        h.find<QPlainTextEdit>("txtState")->setPlainText("old");
        h.type(c.box, c.text);
        h.link->clearCalls();
        h.click("comDoOnce");
        EXPECT_EQ(h.messages.texts(), QStringList{c.message}) << c.box << " " << c.text;
        EXPECT_TRUE(h.link->calls.isEmpty()) << c.box << " " << c.text;
        EXPECT_EQ(h.text("lblCounter"), "1");
        EXPECT_EQ(h.text("txtState"), "old");
        EXPECT_EQ(h.text("txtCommand"), "");
        EXPECT_EQ(h.state().CmdType, RequestKind::None);
    }
}

TEST(SingleRead, RoundingOfTheBoxes)
{
    struct Case
    {
        const char *station, *function, *count;
        const char *frameStart; // first six bytes
    };
    const Case cases[] = {{"1", "3.5", "15", "01040000000F"},
                          {"1", "2.5", "15", "01020000000F"},
                          {"2.9", "3", "15.9", "02030000000F"}};
    for (const auto &c : cases) {
        WindowHarness h;
        h.type("txtStationID", c.station);
        h.type("txtFunID", c.function);
        h.type("txtDataLength", c.count);
        h.click("comDoOnce");
        ASSERT_EQ(h.link->written.size(), 1);
        EXPECT_EQ(h.link->written[0].left(6), hexBytes(c.frameStart))
            << c.station << " " << c.function;
    }
}

TEST(SingleRead, ClosedPortIsCountedAndReported)
{
    WindowHarness h;
    h.click("Command1");
    h.link->clearCalls();
    h.click("comDoOnce");
    EXPECT_EQ(h.messages.texts(), QStringList{msg::portClosed});
    EXPECT_EQ(h.text("lblCounter"), "2");
    EXPECT_EQ(h.window->frontLamp(), "imgNotConnected");
    EXPECT_FALSE(h.state().LoopOn);
    EXPECT_TRUE(h.link->written.isEmpty());
}

TEST(SingleRead, BadCrcIsShownButNotDecoded)
{
    WindowHarness h;
    h.click("comDoOnce");
    QByteArray reply = readReply({2534, 6520, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7});
    reply[5] = char(reply[5] ^ 0x01);
    h.link->deliver(reply);
    EXPECT_EQ(h.text("txtState"), receivedTrace(reply));
    EXPECT_EQ(h.text("txtValue_0"), "0");
    EXPECT_EQ(h.text("txtValue_14"), "0");
    EXPECT_EQ(h.window->frontLamp(), "imgNotConnected");
}

TEST(SingleRead, StartAddressPlacesTheWords)
{
    WindowHarness h;
    h.type("txtStartID", "3");
    h.type("txtDataLength", "2");
    h.click("comDoOnce");
    EXPECT_EQ(h.link->rThreshold(), 9);
    h.link->deliver(readReply({150, 65435}));
    EXPECT_EQ(h.text("txtValue_3"), "1.50");
    EXPECT_EQ(h.text("txtValue_4"), "-1.00");
    EXPECT_EQ(h.text("txtValue_0"), "0");
}

TEST(Polling, PeriodBoundsAndCounters)
{
    struct Case
    {
        const char *period;
        int interval; // 0: refused
        QString message;
    };
    const Case cases[] = {{"50", 50, {}},
                          {"60000", 60000, {}},
                          {"49", 0, msg::periodRange},
                          {"60001", 0, msg::periodRange},
                          {"abc", 0, msg::periodNotNumber}};
    for (const auto &c : cases) {
        WindowHarness h;
        h.click("comDoOnce");
        h.link->deliver(readReply({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
        ASSERT_EQ(h.text("lblCounter"), "2");
        h.type("txtTimerSet", c.period);
        h.click("cmdOneM");
        EXPECT_EQ(h.text("lblCounter"), "1") << c.period;
        EXPECT_EQ(h.text("lblErrCounter"), "1") << c.period;
        EXPECT_EQ(h.state().RecvCount, 1);
        EXPECT_EQ(h.window->pollTimer()->isActive(), c.interval != 0) << c.period;
        if (c.interval) {
            EXPECT_EQ(h.window->pollTimer()->interval(), c.interval);
            EXPECT_TRUE(h.messages.shown.isEmpty());
        } else {
            EXPECT_EQ(h.messages.texts(), QStringList{c.message});
        }
        h.click("cmdStopOnce");
        EXPECT_FALSE(h.window->pollTimer()->isActive());
    }
}

TEST(Polling, TickSendsReadsAndStopLetsTheLastReplyIn)
{
    WindowHarness h;
    h.type("txtTimerSet", "100");
    h.click("cmdOneM");
    EXPECT_TRUE(h.link->written.isEmpty()); // the first request waits for the first tick
    for (int i = 0; i < 3; ++i)
        h.tick();
    EXPECT_EQ(h.link->written.size(), 3);
    EXPECT_EQ(h.text("lblCounter"), "4");
    h.click("cmdStopOnce");
    h.link->deliver(readReply({1111, 2222, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(h.text("txtValue_0"), "11.11");
}

TEST(Polling, TickReplacesABadCount)
{
    WindowHarness h;
    h.type("txtDataLength", "abc");
    h.tick();
    EXPECT_EQ(h.text("txtDataLength"), "1");
    EXPECT_EQ(h.text("lblCounter"), "2");
    ASSERT_EQ(h.link->written.size(), 1);
    EXPECT_EQ(h.link->written[0].left(6), hexBytes("010300000001"));
}

TEST(Polling, ClosedPortStopsTicksFromSending)
{
    WindowHarness h;
    h.click("Command1");
    h.tick();
    EXPECT_EQ(h.messages.shown.size(), 1);
    EXPECT_FALSE(h.state().LoopOn);
    const QString counter = h.text("lblCounter");
    for (int i = 0; i < 5; ++i)
        h.tick();
    EXPECT_EQ(h.messages.shown.size(), 1);
    EXPECT_EQ(h.text("lblCounter"), counter);
    EXPECT_TRUE(h.link->written.isEmpty());
}

TEST(Polling, MessageBoxesFromTicksDoNotStack)
{
    WindowHarness h;
    h.type("txtStationID", "x");
    int nestedTicks = 0;
    // While the box is "open", the timer keeps firing as a modal loop would let it.
    h.messages.onShow = [&] {
        if (nestedTicks++ < 5)
            h.tick();
    };
    h.tick();
    EXPECT_EQ(h.messages.shown.size(), 1);
    EXPECT_TRUE(h.link->written.isEmpty());
    // Once closed, the next tick validates again.
    h.messages.onShow = nullptr;
    h.tick();
    EXPECT_EQ(h.messages.shown.size(), 2);
}
