#include "WindowHarness.h"

#include "line/LineEngine.h"
#include "ui/MonitorWindow.h"

#include <QSettings>

// While a tool holds the window's port, the window has given it up: every
// request on it gets the message that names the holder and sends nothing. A
// second tool is refused the port. Once the holder lets go, the port is open
// again at the operator's rate.
TEST(PortClaim, MainWindowKeepsOffAPortAToolUses)
{
    WindowHarness h;
    h.act("Combo2:3"); // the operator's rate: 19200
    FakeLink *windowLink = h.link();
    ASSERT_TRUE(windowLink->isOpen());
    QObject monitor;
    kc::LineEngine *held = h.claims->claim("COM1", kc::Holder::Monitor, &monitor);
    ASSERT_NE(held, nullptr);
    EXPECT_FALSE(windowLink->isOpen());
    EXPECT_FALSE(h.claims->claim("COM1", kc::Holder::BusScan, &monitor));
    const QString words = "该串口正由多模块监视使用，请先停止监视";
    EXPECT_EQ(h.text("outcomeText"), words);
    for (const char *steps : {"comDoOnce", "cmdOneM Timer2", "cmdSet_0", "cmdReadAdd",
                              "txtSetID_1=5 cmdChangeID", "Command2", "Command3", "cmdCom"}) {
        h.messages.shown.clear();
        h.act(steps);
        EXPECT_EQ(h.messages.texts(), QStringList{words}) << steps;
    }
    EXPECT_TRUE(windowLink->written.isEmpty());

    h.claims->release(held);
    ASSERT_NE(h.link(), windowLink);
    EXPECT_TRUE(h.link()->isOpen());
    EXPECT_EQ(h.link()->baud(), 19200);
    h.messages.shown.clear();
    h.act("comDoOnce");
    EXPECT_EQ(h.link()->written, QStringList{"01 03 00 00 00 0F 05 CE"});
    EXPECT_TRUE(h.messages.shown.isEmpty());
}

// Quitting while the monitor polls: the monitor stops and gives its ports
// back while the claims object and the recorder are still there (the sanitizer
// build sees any use after free).
TEST(PortClaim, QuitWithTheMonitorPolling)
{
    auto h = std::make_unique<WindowHarness>(QSet<QString>{"COM1", "COM2"});
    FakeLink *windowLink = h->link();
    kc::MonitorWindow *monitor = h->window->monitorWindow();
    monitor->monitor()->clear();
    ASSERT_FALSE(monitor->monitor()->add("COM2", "1", 9600));
    ASSERT_FALSE(monitor->monitor()->add("COM1", "2", 9600));
    monitor->monitor()->start();
    EXPECT_EQ(h->claims->holderOf("COM2"), kc::Holder::Monitor);
    EXPECT_FALSE(windowLink->isOpen());
    h->window.reset();
    EXPECT_FALSE(h->claims->holderOf("COM1"));
    EXPECT_FALSE(h->claims->holderOf("COM2"));
    QSettings().remove(QStringLiteral("monitor/list")); // the next window starts empty
}
