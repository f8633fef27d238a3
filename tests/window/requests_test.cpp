#include "WindowHarness.h"

// Each control that sends: the frame on the link and in the sent-data box,
// then what the device's reply fills in. Frames and replies are worked
// examples with their CRCs computed outside this code.
TEST(Requests, AcceptedFrameAndReply)
{
    const char *cases[][5] = {
        // steps, frame sent ("" for none), shown after it, reply, shown after the reply
        {"txtStartID=3 txtDataLength=2 comDoOnce", "01 03 00 03 00 02 34 0B",
         "lamp=ImgYellow;lblCounter=2", "01 03 04 00 96 FF 9B 1A 44",
         "txtValue_2=0;txtValue_3=1.50;txtValue_4=-1.00;txtValue_5=0"},
        {"cmdOneM Timer2", "01 03 00 00 00 0F 05 CE", "lamp=ImgYellow;lblCounter=2",
         "01 03 1E 09 E6 19 78 00 00 FF 9B 00 00 13 88 FC 17 23 28 03 E8 00 01 00 02 00 05 25 80 "
         "00 01 00 02 04 10",
         "txtValue_0=25.34;txtValue_1=65.20;txtValue_5=50.00;txtValue_6=-10.00;txtValue_12=9600;"
         "txtValue_14=2"},
        // Row r's button is cmdSet_<r-3> and sends its own row's value box.
        {"txtStationID=2 txtValue_3=1.5 cmdSet_0", "02 06 0A 00 00 96 0A 4F",
         "lamp=ImgYellow;lblCounter=1", "02 06 0A 00 00 96 0A 4F", "txtSetID_0=2"},
        {"txtStationID=2 txtValue_12=9600 cmdSet_9", "02 06 0A 12 25 80 31 14",
         "lamp=ImgYellow;lblCounter=1", "02 06 0A 12 25 80 31 14", "txtSetID_0=2"},
        {"cmdReadAdd", "FA 03 00 00 00 01 91 81", "lamp=ImgYellow", "11 03 02 00 11 B9 8B",
         "txtSetID_0=17;txtStationID=17"},
        {"txtSetID_1=5 cmdChangeID", "01 06 0B 00 00 05 4B ED", "lamp=ImgYellow",
         "01 06 0B 00 00 05 4B ED", "txtSetID_0=5;txtStationID=5"},
        {"Command2", "01 26 00 00 00 05 C8 0E", "lamp=ImgYellow",
         "01 26 0B 4B 43 34 34 32 30 50 2D 56 31 32 75 A3", "TXTtype=KC4420P-V12"},
    };
    for (const auto &[steps, frame, sent, reply, replied] : cases) {
        WindowHarness h;
        h.act(steps);
        EXPECT_EQ(h.link()->written.join(' '), frame) << steps;
        EXPECT_EQ(h.text("txtCommand").trimmed(), frame) << steps;
        h.expect(sent);
        const int receptions = h.text("lblErrCounter").toInt();
        // The reply in two pieces, as a USB adapter delivers it: one reception.
        const QByteArray whole = QByteArray::fromHex(reply);
        h.link()->deliver(whole.left(6));
        h.link()->deliver(whole.mid(6));
        EXPECT_EQ(h.text("txtState"), QStringLiteral(" ") + reply) << steps;
        EXPECT_EQ(h.text("lblErrCounter").toInt(), receptions + 1) << steps;
        h.expect(QStringLiteral("lamp=imgConnected;") + replied);
        EXPECT_TRUE(h.messages.shown.isEmpty()) << steps;
    }
}

// A refused request shows its message and sends nothing. While the box is
// open ticks keep coming (a modal loop delivers them); they must neither open
// another box nor send. Which message each box gets is the core tables' concern.
TEST(Requests, RefusedWithTheirMessage)
{
    const char *cases[][2] = {
        {"txtStationID=abc comDoOnce", "你输入的设备地址格式有误!"},
        {"Command1 comDoOnce", "打开串口出错，请确定串口是否已被占用"},
        {"txtStationID=x Timer2", "你输入的设备地址格式有误!"},
        {"txtTimerSet=abc cmdOneM", "你输入的定时时长格式有误，应该为数字，值范围为100-60000!"},
        {"txtValue_3=10.01 cmdSet_0", "你输入的值有误，正确的值范围为-10到10!"},
        {"txtValue_12=1200 cmdSet_9", "你输入的值有误，正确的值范围为2400,4800,9600,19200或38400!"},
        {"txtSetID_0=0 cmdChangeID", "请指定正确的设备地址，正确值范围为1-250"},
        {"txtStationID=300 Command2", "你输入的设备地址格式有误!"},
    };
    for (const auto &[steps, message] : cases) {
        WindowHarness h;
        int ticks = 0;
        h.messages.onShow = [&] {
            if (ticks++ < 3)
                h.act("Timer2");
        };
        h.act(QString::fromUtf8(steps));
        EXPECT_EQ(h.messages.texts(), QStringList{QString::fromUtf8(message)}) << steps;
        EXPECT_TRUE(h.link()->written.isEmpty()) << steps;
        EXPECT_EQ(h.text("txtCommand"), "") << steps;
        EXPECT_FALSE(h.find<QTimer>("Timer2")->isActive()) << steps;
    }
}

TEST(Polling, LoopRestartsTheCountersAndTicksUntilStopped)
{
    WindowHarness h;
    h.act("comDoOnce txtTimerSet=250 txtDataLength=abc cmdOneM");
    EXPECT_TRUE(h.find<QTimer>("Timer2")->isActive());
    EXPECT_EQ(h.find<QTimer>("Timer2")->interval(), 250);
    h.expect("lblCounter=1;lblErrCounter=1");
    h.act("Timer2"); // a count that is not a number is mended before the read
    h.expect("txtDataLength=1;lblCounter=2");
    EXPECT_EQ(h.link()->written.last(), "01 03 00 00 00 01 84 0A");
    h.act("cmdStopOnce");
    EXPECT_FALSE(h.find<QTimer>("Timer2")->isActive());
    // After a read finds the port closed, ticks stay silent.
    h.act("Command1 Timer2 Timer2");
    EXPECT_EQ(h.messages.texts(), QStringList{"打开串口出错，请确定串口是否已被占用"});
    EXPECT_EQ(h.link()->written.size(), 2);
}

// The upload mode sends nothing and starts its log and counters afresh.
// Records keep coming while the window reads: bytes that arrive meanwhile
// belong to the next record, and a record in pieces counts once.
TEST(Upload, BytesArrivingDuringTheReadAreKept)
{
    WindowHarness h;
    h.find<QPlainTextEdit>("txtUp")->setPlainText("old log");
    h.act("Command3");
    h.expect("lamp=ImgYellow;lblCounter=0;lblErrCounter=0;txtUp=;txtCommand=");
    EXPECT_TRUE(h.link()->written.isEmpty());
    h.link()->arrivingDuringRead = "[026.0,064.8]";
    h.link()->deliver("[025.3,065.2]");
    h.link()->deliver("[-01.5,");
    h.link()->deliver("063.0]");
    h.expect("txtUp=2026-12-06 21:05:09 25.3 65.2\n2026-12-06 21:05:09 26 64.8\n"
             "2026-12-06 21:05:09 -1.5 63;lblErrCounter=3;lamp=imgConnected");
}
