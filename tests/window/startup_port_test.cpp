#include "WindowHarness.h"

#include "ui/LampImages.h"

#include <QDialogButtonBox>
#include <QGuiApplication>

TEST(StartUp, OpensComOneAndFillsTheBoxes)
{
    WindowHarness h;
    // The rate is stored before the port is chosen, and the port opens at it.
    EXPECT_EQ(h.link()->calls.join('|'), "baud=9600|open");
    EXPECT_TRUE(h.link()->isOpen());
    h.expect("txtStationID=1;txtFunID=3;txtStartID=0;txtDataLength=15;txtTimerSet=1000;"
             "TXTtype=1000;txtUp=;Combo1=COM1;Combo2=9600;Combo3=无校验;Combo4=8;Combo5=1;"
             "lblErrCounter=1;lblCounter=1;lamp=imgConnected");
    // The port and rate lists' order is checked by the choices below.
    EXPECT_EQ(h.find<QComboBox>("Combo1")->count(), 25);
    EXPECT_EQ(h.find<QComboBox>("Combo2")->count(), 5);
    EXPECT_TRUE(h.messages.shown.isEmpty());
}

// The platform appends a display name to every window title, so with one set
// the error box would not read exactly "出错提示". Qt's own buttons speak
// Chinese like the rest.
TEST(StartUp, NoApplicationDisplayNameAndQtsButtonsInChinese)
{
    kc::setUpApplicationIdentity();
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QGuiApplication::applicationName());
    QDialogButtonBox buttons(QDialogButtonBox::Save | QDialogButtonBox::Cancel);
    EXPECT_TRUE(buttons.button(QDialogButtonBox::Save)->text().startsWith("保存"));
    EXPECT_TRUE(buttons.button(QDialogButtonBox::Cancel)->text().startsWith("取消"));
}

TEST(Port, ChoicesButtonsAndALostLine)
{
    WindowHarness h({"COM1", "COM2"});
    const char *steps[][4] = {
        // step, port, lamp in front, link calls from the first
        {"Combo1:1", "COM2", "imgConnected", "baud=9600|open"},
        // COM5 is missing: red, and no message
        {"Combo1:4", "COM5", "imgNotConnected", "baud=9600|open"},
        {"cmdCom", "COM5", "imgNotConnected", "baud=9600|open"}, // says so, see below
        {"Combo2:0", "COM5", "imgNotConnected", "baud=2400"},    // closed: only stored
        // an open after a failure shows green
        {"Combo1:0", "COM1", "imgConnected", "baud=2400|open"},
        {"Combo2:3", "COM1", "imgConnected", "close|baud=19200|open"},
        {"cmdCom", "COM1", "imgConnected", "close|baud=19200|open"},
        {"Command1", "COM1", "imgNotConnected", "close"},
        // a request on a closed port is shown but not sent
        {"cmdReadAdd", "COM1", "imgNotConnected", ""},
        {"cmdCom", "COM1", "imgConnected", "baud=19200|open"},
    };
    for (const auto &[step, port, lamp, calls] : steps) {
        const qsizetype from =
            h.link() && h.window->portName() == port ? h.link()->calls.size() : 0;
        h.act(step);
        ASSERT_EQ(h.window->portName(), port) << step;
        EXPECT_EQ(h.link()->calls.mid(from).join('|'), calls) << step;
        h.expect(QStringLiteral("lamp=") + lamp);
    }
    EXPECT_TRUE(h.link()->written.isEmpty());
    ASSERT_EQ(h.messages.shown.size(), 1);
    EXPECT_TRUE(h.messages.shown[0] == kc::UserMessage("串口已打开或被占用！", "出错提示", true));
    h.link()->loseLine(); // counted and shown red, no message
    h.expect("lamp=imgNotConnected;lblErrCounter=2");
    h.act("Combo1:-1");
    EXPECT_EQ(h.messages.texts(), QStringList({"串口已打开或被占用！", "请选择端口"}));
}

// A choice that opens the port shows green even over the red lamp of a
// reply that failed its CRC.
TEST(Port, ChoiceThatOpensBringsGreenForward)
{
    WindowHarness h;
    h.act("txtDataLength=1 comDoOnce");
    h.link()->deliver(QByteArray::fromHex("01030200010000"));
    h.expect("lamp=imgNotConnected");
    h.act("Combo2:3");
    h.expect("lamp=imgConnected");
}

// A port that will not open says why in the status bar: no such device, no
// permission (with the dialout hint), in use by another program.
TEST(Port, FailedOpenSaysWhy)
{
    WindowHarness h({"COM1", "COM2", "COM3"});
    h.links.onMade = [](FakeLink *link) {
        if (link->name() == "COM2")
            link->refuseWith = kc::OpenFailure::NoPermission;
        if (link->name() == "COM3")
            link->refuseWith = kc::OpenFailure::Busy;
    };
    const char *cases[][2] = {
        {"Combo1:4", "COM5：没有这个设备"},
        {"Combo1:1", "COM2 (/dev/fake)：没有权限：请把用户加入 dialout 组"},
        {"Combo1:2", "COM3 (/dev/fake)：已被其他程序占用"},
        {"Combo1:0", ""},
    };
    for (const auto &[step, says] : cases) {
        h.act(step);
        EXPECT_EQ(h.text("outcomeText").left(int(QString::fromUtf8(says).size())),
                  QString::fromUtf8(says))
            << step;
        EXPECT_EQ(h.text("outcomeText").isEmpty(), QByteArray(says).isEmpty()) << step;
    }
    // A connection that fails after the open (a network line) says why too.
    h.link()->loseLine(kc::OpenFailure::Refused);
    h.expect("lamp=imgNotConnected");
    EXPECT_EQ(h.text("outcomeText"), QStringLiteral("连接被拒绝：/dev/fake"));
}
