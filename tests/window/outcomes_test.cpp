#include "WindowHarness.h"

#include "ui/TrafficLogWindow.h"


// What became of each request, in the status bar and the lamp; boxes change
// only on an answered reply. The clock stands still unless a case moves it.
TEST(Outcomes, StatusLampAndBoxes)
{
    const char *cases[][4] = {
        // steps, reply bytes (before the deadline, if any), "deadline" to let it pass, shown
        {"txtDataLength=2 comDoOnce", "01 03 04 00 01 00 02 2A 32", "",
         "outcomeText=应答正常 12.5 ms;lamp=imgConnected;txtValue_1=0.02"},
        {"txtValue_5=30 cmdSet_2", "01 86 03 02 61", "deadline",
         "outcomeText=模块拒绝：非法数据值 (03);lamp=imgNotConnected;txtValue_5=30;txtSetID_0=1"},
        {"comDoOnce", "", "deadline", "outcomeText=无应答 (超时 1000 ms);lamp=imgNotConnected"},
        {"cmdReadAdd", "11 03 02 00 11 B9 8C", "",
         "outcomeText=校验错误;lamp=imgNotConnected;txtStationID=1;txtSetID_0=1"},
        // An address change is taken only when the reply confirms the address
        // asked for: a garbled echo would put 0 into the station box, and the
        // next write would go to every module on the line.
        {"txtSetID_1=5 cmdChangeID", "01 06 0A 00 00 05", "",
         "outcomeText=应答与请求不符;lamp=imgNotConnected;txtStationID=1;txtSetID_0=1"},
        {"txtSetID_1=5 cmdChangeID", "00 00 FF 9B 00 00", "",
         "outcomeText=应答与请求不符;lamp=imgNotConnected;txtStationID=1;txtSetID_0=1"},
        {"txtSetID_1=5 cmdChangeID", "05 06 0C 05 00 00", "",
         "outcomeText=应答正常 12.5 ms;txtStationID=5;txtSetID_0=5"},
        {"txtDataLength=1 comDoOnce", "07 03 02 00 01 F1 84", "",
         "outcomeText=应答来自站 7;lamp=imgNotConnected;txtValue_0=0"},
        {"Command2", "01 26 0B 4B 43", "deadline",
         "outcomeText=应答不完整 (5 字节);lamp=imgNotConnected;TXTtype=1000"},
        {"txtStationID=0 comDoOnce", "", "", "outcomeText=广播已发送 (无应答);lamp=imgConnected"},
        // Values land by the start register sent, whatever the box says by then.
        {"txtStartID=3 txtDataLength=2 comDoOnce txtStartID=0", "01 03 04 00 01 00 02 2A 32", "",
         "txtValue_3=0.01;txtValue_4=0.02;txtValue_0=0"},
    };
    for (const auto &[steps, reply, deadline, shown] : cases) {
        WindowHarness h;
        h.act(steps);
        h.now = 112.5;
        h.link()->deliver(QByteArray::fromHex(reply));
        if (QByteArray(deadline) == "deadline")
            h.deadline();
        SCOPED_TRACE(steps);
        h.expect(QString::fromUtf8(shown));
    }
}

// The totals add up over a polling run: a tick that comes before the reply
// supersedes the request; a double click starts them over.
TEST(Outcomes, TotalsAddUpAndReset)
{
    WindowHarness h;
    h.act("txtDataLength=1 cmdOneM Timer2 Timer2");
    h.link()->deliver(QByteArray::fromHex("01030200017984"));
    h.act("Timer2");
    h.deadline();
    const kc::OutcomeTotals &t = h.window->totals();
    EXPECT_EQ(t.sent, 3);
    EXPECT_EQ(t.superseded, 1);
    EXPECT_TRUE(h.text("totalsText").startsWith("发送 3  应答 1  超时 1  错误 0  取代 1"));
    QTest::mouseDClick(h.find<QLabel>("totalsText"), Qt::LeftButton);
    EXPECT_EQ(h.text("totalsText"), "发送 0  应答 0  超时 0  错误 0  取代 0");
    // Every frame and every outcome is in the traffic log.
    EXPECT_EQ(h.window->trafficLog()->log().entries().size(), 3u + 1u + 3u);
}

// The status bar says what the window is doing: a request out is awaited,
// polling runs at its period until stopped, and the upload mode, which
// stops polling (it would end the log), says how to leave it.
TEST(Outcomes, StatusBarShowsTheWindowsState)
{
    WindowHarness h;
    const char *steps[][2] = {
        {"comDoOnce", "等待应答…"},
        {"txtTimerSet=250 cmdOneM Timer2", "循环读取中，周期 250 ms｜等待应答…"},
        {"cmdStopOnce", "等待应答…"},
        {"cmdOneM Command3", "主动上传模式：单次、循环或任一请求即退出｜循环读取已停止"},
        {"cmdReadAdd", "等待应答…"},
    };
    for (const auto &[step, shown] : steps) {
        h.act(step);
        h.expect(QStringLiteral("outcomeText=") + QString::fromUtf8(shown));
    }
    EXPECT_FALSE(h.find<QTimer>("Timer2")->isActive());
    h.link()->deliver(QByteArray::fromHex("11030200 11B98B"));
    h.expect("outcomeText=应答正常 0.0 ms");
}
