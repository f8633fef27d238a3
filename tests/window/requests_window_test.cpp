#include "WindowHarness.h"

#include "operations/Messages.h"
#include "protocol/FrameCodec.h"
#include "operations/Replies.h"

using namespace kc;

namespace {
const QStringList prepared = {"discardInput", "inputLen=0", "inputMode=1", "rThreshold=0"};
}

TEST(Requests, FramesThresholdsAndKinds)
{
    struct Case
    {
        std::function<void(WindowHarness &)> act;
        const char *frame;
        int threshold;
        kc::RequestKind kind;
    };
    const Case cases[] = {
        {[](WindowHarness &h) {
             h.type("txtStationID", "2");
             h.type("txtValue_3", "1.5");
             h.click("cmdSet_0");
         },
         "02 06 0A 00 00 96 0A 4F", 6, RequestKind::Station},
        {[](WindowHarness &h) {
             h.type("txtStationID", "2");
             h.type("txtValue_12", "9600");
             h.click("cmdSet_9");
         },
         "02 06 0A 12 25 80 31 14", 6, RequestKind::Station},
        {[](WindowHarness &h) {
             h.type("txtValue_3", "-1");
             h.click("cmdSet_0");
         },
         "01 06 0A 00 FF 9B 8A 49", 6, RequestKind::Station},
        {[](WindowHarness &h) {
             h.type("txtStationID", "77");
             h.click("cmdReadAdd");
         },
         "FA 03 00 00 00 01 91 81", 6, RequestKind::Station},
        {[](WindowHarness &h) {
             h.type("txtSetID_0", "1");
             h.type("txtSetID_1", "5");
             h.click("cmdChangeID");
         },
         "01 06 0B 00 00 05 4B ED", 6, RequestKind::AddressChange},
        {[](WindowHarness &h) {
             h.type("txtSetID_0", "251");
             h.type("txtSetID_1", "10");
             h.click("cmdChangeID");
         },
         "FB 06 0B 00 00 0A 1F B3", 6, RequestKind::AddressChange},
        {[](WindowHarness &h) { h.click("Command2"); }, "01 26 00 00 00 05 C8 0E", 16,
         RequestKind::DeviceInfo},
    };
    for (const auto &c : cases) {
        for (bool open : {true, false}) {
            WindowHarness h;
            if (!open)
                h.click("Command1");
            h.find<QPlainTextEdit>("txtState")->setPlainText("old");
            h.link->clearCalls();
            c.act(h);
            const QString trace = QString::fromLatin1(c.frame) + QLatin1Char(' ');
            EXPECT_EQ(h.text("txtCommand"), trace) << c.frame;
            EXPECT_EQ(h.text("txtState"), "") << c.frame;
            EXPECT_EQ(h.state().CmdType, c.kind) << c.frame;
            EXPECT_EQ(h.link->rThreshold(), c.threshold) << c.frame;
            EXPECT_TRUE(h.messages.shown.isEmpty()) << c.frame;
            EXPECT_EQ(h.link->calls.mid(0, 4), prepared) << c.frame;
            if (open) {
                ASSERT_EQ(h.link->written.size(), 1) << c.frame;
                EXPECT_EQ(sentTrace(h.link->written[0]), trace);
                EXPECT_EQ(h.window->frontLamp(), "imgConnected");
            } else {
                EXPECT_TRUE(h.link->written.isEmpty()) << c.frame;
                EXPECT_EQ(h.window->frontLamp(), "imgNotConnected");
            }
        }
    }
}

TEST(Requests, RefusalsSendNothing)
{
    struct Case
    {
        QList<std::pair<const char *, const char *>> boxes;
        const char *button;
        QString message;
    };
    const Case cases[] = {
        {{{"txtValue_5", ""}}, "cmdSet_2", msg::valueNotNumber},
        {{{"txtValue_5", "abc"}}, "cmdSet_2", msg::valueNotNumber},
        {{{"txtValue_3", "10.01"}}, "cmdSet_0", msg::calibrationRange},
        {{{"txtValue_4", "-10.5"}}, "cmdSet_1", msg::calibrationRange},
        {{{"txtValue_12", "1200"}}, "cmdSet_9", msg::baudRange},
        {{{"txtValue_11", "70000"}}, "cmdSet_8", msg::integerWordRange},
        {{{"txtValue_9", "-70000"}}, "cmdSet_6", msg::integerWordRange},
        {{{"txtValue_5", "1"}, {"txtStationID", "abc"}}, "cmdSet_2", msg::badStation},
        {{{"txtStationID", "300"}}, "Command2", msg::badStation},
        {{{"txtSetID_0", ""}, {"txtSetID_1", ""}}, "cmdChangeID", msg::badCurrentAddress},
        {{{"txtSetID_1", ""}}, "cmdChangeID", msg::badTargetAddress},
        {{{"txtSetID_0", "0"}}, "cmdChangeID", msg::addressRange},
        {{{"txtSetID_1", "0.5"}}, "cmdChangeID", msg::addressRange},
        {{{"txtSetID_0", "-2"}}, "cmdChangeID", msg::addressRange},
        {{{"txtSetID_0", "256"}}, "cmdChangeID", msg::addressRange},
        {{{"txtSetID_1", "251"}}, "cmdChangeID", msg::targetAddressRange},
    };
    for (const auto &c : cases) {
        WindowHarness h;
        for (const auto &[box, text] : c.boxes)
            h.type(box, text);
        h.link->clearCalls();
        h.click(c.button);
        EXPECT_EQ(h.messages.texts(), QStringList{c.message}) << c.button;
        EXPECT_TRUE(h.link->calls.isEmpty()) << c.button;
        EXPECT_EQ(h.text("txtCommand"), "") << c.button;
        EXPECT_EQ(h.state().CmdType, RequestKind::None) << c.button;
    }
}

TEST(Requests, RowsWithoutSetButtons)
{
    WindowHarness h;
    for (int i = 0; i < 12; ++i) {
        auto *b = h.find<QPushButton>(QStringLiteral("cmdSet_%1").arg(i));
        auto *value = h.find<QLineEdit>(QStringLiteral("txtValue_%1").arg(i + 3));
        EXPECT_EQ(b->text(), "设置");
        EXPECT_EQ(b->y(), value->y()) << i; // on the row of register i + 3
    }
    EXPECT_EQ(h.window->findChild<QPushButton *>("cmdSet_12"), nullptr);
    EXPECT_EQ(h.window->findChildren<QPushButton *>(QRegularExpression("^cmdSet_")).size(), 12);
}

TEST(Replies, AddressBoxesFollowTheReplyingStation)
{
    WindowHarness h;
    h.click("cmdReadAdd");
    h.link->deliver(closeFrame(17, 3, 2, 0, 17, 0).left(7));
    EXPECT_EQ(h.text("txtSetID_0"), "17");
    EXPECT_EQ(h.text("txtStationID"), "17");

    // The echo of a change carries the new address in byte 5, not byte 3.
    h.type("txtSetID_0", "17");
    h.type("txtSetID_1", "42");
    h.click("cmdChangeID");
    h.link->deliver(closeFrame(17, 6, 0x0B, 0, 0, 42));
    EXPECT_EQ(h.text("txtSetID_0"), "42");
    EXPECT_EQ(h.text("txtStationID"), "42");

    // The next read goes to the new address.
    h.click("comDoOnce");
    EXPECT_EQ(std::uint8_t(h.link->written.last()[0]), 42);

    // A write's reply refreshes both boxes too.
    h.type("txtValue_5", "20");
    h.click("cmdSet_2");
    h.link->deliver(closeFrame(43, 6, 0x0A, 0x04, 0x07, 0xD0));
    EXPECT_EQ(h.text("txtStationID"), "43");
}

TEST(Replies, DeviceInformationText)
{
    WindowHarness h;
    h.click("Command2");
    QByteArray reply = QByteArray::fromHex("01260B") + QByteArray("KC4420P-V12");
    h.link->deliver(reply.left(14));
    EXPECT_EQ(h.text("TXTtype"), "1000"); // 14 bytes: threshold 16 not reached
    h.link->deliver(QByteArray::fromHex("ABCD"));
    EXPECT_EQ(h.text("TXTtype"), "KC4420P-V12");
}

TEST(Upload, StartResetsAndEachRecordAddsALine)
{
    WindowHarness h;
    h.click("comDoOnce");
    h.find<QPlainTextEdit>("txtUp")->setPlainText("old log");
    h.link->clearCalls();
    h.click("Command3");
    EXPECT_EQ(h.link->calls, QStringList({"discardInput", "inputLen=0", "inputMode=1",
                                          "discardInput", "inputLen=0", "rThreshold=12"}));
    EXPECT_TRUE(h.link->written.isEmpty());
    EXPECT_EQ(h.text("lblCounter"), "0");
    EXPECT_EQ(h.text("lblErrCounter"), "0");
    EXPECT_EQ(h.text("txtUp"), "");
    EXPECT_EQ(h.window->frontLamp(), "ImgYellow");
    EXPECT_EQ(h.state().CmdType, RequestKind::Upload);

    QDateTime now(QDate(2026, 12, 6), QTime(21, 5, 9));
    h.window->setClock([&] { return now; });
    h.link->deliver("[025.3,065.2]");
    now = now.addSecs(5);
    h.link->deliver("[-05.3,100.0]");
    h.link->deliver("X025.3,065.2]"); // counted and shown, not logged
    EXPECT_EQ(h.text("txtUp"), "2026-12-06 21:05:09 25.3 65.2\n2026-12-06 21:05:14 -5.3 100");
    EXPECT_EQ(h.text("lblErrCounter"), "3");
    EXPECT_EQ(h.text("txtState"), receivedTrace("X025.3,065.2]"));
    EXPECT_EQ(h.window->frontLamp(), "imgConnected");

    // A device-information request ends the upload mode.
    h.click("Command2");
    EXPECT_EQ(h.state().CmdType, RequestKind::DeviceInfo);
    EXPECT_EQ(h.link->rThreshold(), 16);
}

TEST(Events, NonReceiveEventsOnlyCount)
{
    WindowHarness h;
    h.click("comDoOnce");
    const QString state = h.text("txtState");
    for (int code : {0, 1, 3, 1004, 1009}) {
        h.link->raise(code);
        EXPECT_EQ(h.text("txtState"), state);
        EXPECT_EQ(h.window->frontLamp(), "ImgYellow");
    }
    EXPECT_EQ(h.text("lblErrCounter"), "6");
}

TEST(Events, BeforeAnyRequestBytesAreOnlyShown)
{
    WindowHarness h;
    h.click("Command1");
    h.click("cmdCom");
    h.link->deliver(QByteArray::fromHex("01"));
    EXPECT_EQ(h.text("txtState"), " 01");
    EXPECT_EQ(h.text("lblErrCounter"), "2");
    EXPECT_EQ(h.window->frontLamp(), "imgConnected");
}

TEST(Upload, RecordsArrivingByteByByteAreAllLogged)
{
    WindowHarness h;
    h.click("Command3");
    const QByteArray stream = QByteArray("[025.3,065.2]") + "[026.0,064.8]" + "[-01.5,063.0]";
    for (char b : stream)
        h.link->deliver(QByteArray(1, b));
    const QStringList lines = h.text("txtUp").split('\n');
    ASSERT_EQ(lines.size(), 3) << h.text("txtUp").toStdString();
    EXPECT_TRUE(lines[0].endsWith(" 25.3 65.2"));
    EXPECT_TRUE(lines[1].endsWith(" 26 64.8"));
    EXPECT_TRUE(lines[2].endsWith(" -1.5 63"));
}
