#include "WindowHarness.h"

#include "line/PortClaims.h"

// While the monitor holds the window's port, the window gives the port up,
// and every request on it gets the message that names the monitor and sends
// nothing; once the monitor lets go, the port is opened again.
TEST(PortClaim, MainWindowKeepsOffAPortTheMonitorUses)
{
    WindowHarness h;
    ASSERT_TRUE(h.link->isOpen());
    const QString monitor = "该串口正由多模块监视使用，请先停止监视";
    h.window->portClaims()->claim(kc::portIdentity("COM1"), monitor);
    EXPECT_FALSE(h.link->isOpen());
    EXPECT_EQ(h.text("outcomeText"), monitor);
    for (const char *steps : {"comDoOnce", "cmdOneM Timer2", "cmdSet_0", "cmdReadAdd",
                              "txtSetID_1=5 cmdChangeID", "Command2", "Command3", "cmdCom"}) {
        h.messages.shown.clear();
        h.act(steps);
        EXPECT_EQ(h.messages.texts(), QStringList{monitor}) << steps;
    }
    EXPECT_EQ(h.link->written, QStringList{});
    EXPECT_FALSE(h.link->isOpen());

    h.window->portClaims()->release(kc::portIdentity("COM1"));
    EXPECT_TRUE(h.link->isOpen());
    h.messages.shown.clear();
    h.act("comDoOnce");
    EXPECT_EQ(h.link->written, QStringList{"01 03 00 00 00 0F 05 CE"});
    EXPECT_TRUE(h.messages.shown.isEmpty());
}
