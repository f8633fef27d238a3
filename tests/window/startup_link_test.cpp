#include "WindowHarness.h"

#include "operations/Messages.h"

using namespace kc;

TEST(StartUp, TextsListsPortAndLamp)
{
    WindowHarness h;
    EXPECT_EQ(h.text("txtStationID"), "1");
    EXPECT_EQ(h.text("txtDataLength"), "15");
    EXPECT_EQ(h.text("txtFunID"), "3");
    EXPECT_EQ(h.text("txtStartID"), "0");
    EXPECT_EQ(h.text("txtTimerSet"), "1000");
    EXPECT_EQ(h.text("Combo1"), "COM1");
    EXPECT_EQ(h.text("Combo2"), "9600");
    auto *baud = h.find<QComboBox>("Combo2");
    QStringList rates;
    for (int i = 0; i < baud->count(); ++i)
        rates << baud->itemText(i);
    EXPECT_EQ(rates, QStringList({"2400", "4800", "9600", "19200", "38400"}));
    EXPECT_EQ(h.find<QComboBox>("Combo1")->count(), 25);
    EXPECT_EQ(h.find<QComboBox>("Combo1")->itemText(24), "COM25");
    EXPECT_EQ(h.text("lblCounter"), "1");
    EXPECT_EQ(h.text("lblErrCounter"), "1");
    EXPECT_EQ(h.state().RecvCount, 1);
    EXPECT_TRUE(h.state().LoopOn);
    EXPECT_EQ(h.state().CommNum, 1);
    EXPECT_EQ(h.state().CommRate, 9600);
    EXPECT_TRUE(h.link->isOpen());
    EXPECT_EQ(h.link->settings(), "9600,N,8,1");
    EXPECT_EQ(h.link->rThreshold(), 1);
    EXPECT_EQ(h.window->frontLamp(), "imgConnected");
    EXPECT_TRUE(h.messages.shown.isEmpty());
    EXPECT_EQ(h.window->windowTitle(), msg::appTitle);
}

TEST(StartUp, PortOperationsInOrder)
{
    WindowHarness h;
    const QStringList expected = {
        // the baud choice while closed only stores the settings
        "settings=9600,N,8,1",
        // port configuration
        "commPort=1", "inputMode=1", "inputLen=0", "discardInput", "discardOutput", "sThreshold=0",
        "rThreshold=1", "inputMode=1", "settings=9600,N,8,1",
        // the port choice opens COM1 and arms receive events at one byte
        "commPort=1", "settings=9600,N,8,1", "open", "rThreshold=1", "inputMode=1"};
    EXPECT_EQ(h.link->calls, expected);
}

TEST(StartUp, MissingFirstPortShowsRedWithoutMessage)
{
    WindowHarness h(QSet<int>{});
    EXPECT_FALSE(h.link->isOpen());
    EXPECT_EQ(h.window->frontLamp(), "imgNotConnected");
    EXPECT_TRUE(h.messages.shown.isEmpty());
    EXPECT_TRUE(h.state().LoopOn);
    // The first read then reports the closed port.
    h.click("comDoOnce");
    EXPECT_EQ(h.messages.texts(), QStringList{msg::portClosed});
    EXPECT_FALSE(h.state().LoopOn);
    EXPECT_TRUE(h.link->written.isEmpty());
}

TEST(PortChoice, MovesTheLinkAndReopensTheSamePort)
{
    struct Case
    {
        int index;
        bool opens;
        const char *lamp;
    };
    const Case cases[] = {
        {1, true, "imgConnected"}, {0, true, "imgConnected"}, {4, false, "imgNotConnected"}};
    for (const auto &c : cases) {
        WindowHarness h({1, 2});
        h.link->clearCalls();
        h.choose("Combo1", c.index);
        EXPECT_EQ(h.link->calls.first(), "close") << c.index;
        EXPECT_TRUE(h.link->calls.contains(QStringLiteral("commPort=%1").arg(c.index + 1)));
        EXPECT_EQ(h.state().CommNum, c.index + 1);
        EXPECT_EQ(h.link->isOpen(), c.opens) << c.index;
        EXPECT_EQ(h.window->frontLamp(), c.lamp) << c.index;
        EXPECT_TRUE(h.messages.shown.isEmpty());
        EXPECT_TRUE(h.state().LoopOn);
        EXPECT_EQ(h.link->rThreshold(), 1);
    }
}

TEST(PortChoice, NoSelectionAsksForAPort)
{
    WindowHarness h;
    auto *ports = h.find<QComboBox>("Combo1");
    ports->setCurrentIndex(-1);
    emit ports->activated(-1);
    EXPECT_EQ(h.messages.texts(), QStringList{msg::choosePort});
    EXPECT_FALSE(h.link->isOpen());
}

TEST(PortChoice, ClearedLoopOnComesBackWithAPortChoice)
{
    WindowHarness h({2});
    h.click("comDoOnce"); // COM1 missing: clears LoopOn
    ASSERT_FALSE(h.state().LoopOn);
    h.choose("Combo1", 1);
    EXPECT_TRUE(h.state().LoopOn);
    EXPECT_TRUE(h.link->isOpen());
}

TEST(BaudChoice, ReopensWhenOpenStoresWhenClosed)
{
    WindowHarness h;
    h.link->clearCalls();
    h.choose("Combo2", 4);
    EXPECT_EQ(h.link->calls, QStringList({"close", "settings=38400,N,8,1", "open"}));
    EXPECT_EQ(h.state().CommRate, 38400);
    EXPECT_TRUE(h.link->isOpen());

    h.click("Command1");
    h.link->clearCalls();
    h.choose("Combo2", 0);
    EXPECT_EQ(h.link->calls, QStringList({"settings=2400,N,8,1"}));
    EXPECT_FALSE(h.link->isOpen());
    // The open button then uses the stored rate.
    h.click("cmdCom");
    EXPECT_EQ(h.link->settings(), "2400,N,8,1");
    EXPECT_TRUE(h.link->isOpen());
}

TEST(BaudChoice, FailedReopenIsReported)
{
    WindowHarness h;
    h.link->failNextOpen = true;
    h.choose("Combo2", 3);
    ASSERT_EQ(h.messages.shown.size(), 1);
    EXPECT_EQ(h.messages.shown[0], UserMessage(msg::portBusy, msg::errorTitle, true));
    EXPECT_EQ(h.window->frontLamp(), "imgNotConnected");
    EXPECT_FALSE(h.link->isOpen());
}

TEST(OpenCloseButtons, LampAndMessages)
{
    WindowHarness h;
    h.link->clearCalls();
    h.click("cmdCom"); // open: close and reopen
    EXPECT_EQ(h.link->calls, QStringList({"close", "open"}));
    EXPECT_EQ(h.window->frontLamp(), "imgConnected");

    h.click("Command1");
    EXPECT_FALSE(h.link->isOpen());
    EXPECT_EQ(h.window->frontLamp(), "imgNotConnected");
    h.link->clearCalls();
    h.click("Command1"); // already closed: only the lamp
    EXPECT_TRUE(h.link->calls.isEmpty());
    EXPECT_EQ(h.window->frontLamp(), "imgNotConnected");

    h.click("cmdCom");
    EXPECT_EQ(h.link->calls, QStringList({"settings=9600,N,8,1", "open"}));
    EXPECT_EQ(h.window->frontLamp(), "imgConnected");
    EXPECT_TRUE(h.messages.shown.isEmpty());

    h.link->presentPorts.clear();
    h.click("cmdCom");
    EXPECT_EQ(h.window->frontLamp(), "imgNotConnected");
    ASSERT_EQ(h.messages.shown.size(), 1);
    EXPECT_EQ(h.messages.shown[0], UserMessage(msg::portBusy, msg::errorTitle, true));
    EXPECT_FALSE(h.link->isOpen());
}

TEST(LineFailure, RedLampAndTheOpenButtonReconnects)
{
    WindowHarness h;
    h.link->loseLine();
    EXPECT_EQ(h.window->frontLamp(), "imgNotConnected");
    EXPECT_EQ(h.text("lblErrCounter"), "2"); // counted, nothing else
    EXPECT_TRUE(h.messages.shown.isEmpty());
    h.click("cmdCom");
    EXPECT_TRUE(h.link->isOpen());
    EXPECT_EQ(h.window->frontLamp(), "imgConnected");
}

TEST(Lamp, OneImageInFrontAtATime)
{
    WindowHarness h;
    auto *green = h.find<QLabel>("imgConnected");
    auto *yellow = h.find<QLabel>("ImgYellow");
    auto *red = h.find<QLabel>("imgNotConnected");
    EXPECT_EQ(green->geometry(), yellow->geometry());
    EXPECT_EQ(green->geometry(), red->geometry());
    EXPECT_EQ(green->size(), QSize(16, 16));
    h.click("comDoOnce");
    EXPECT_EQ(h.window->frontLamp(), "ImgYellow");
    h.click("Command1");
    EXPECT_EQ(h.window->frontLamp(), "imgNotConnected");
    for (auto *l : {green, yellow, red})
        EXPECT_EQ(l->toolTip(), "数据采集通讯状态指示");
}
