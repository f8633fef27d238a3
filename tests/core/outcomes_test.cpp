#include "operations/Outcomes.h"
#include "operations/Requests.h"
#include "operations/Scan.h"
#include "support/Frames.h"
#include "support/QtPrint.h"

#include <gtest/gtest.h>

using namespace kc;

namespace {

const Request read2 = Request::registerRead(1, 0, 2);
const Request write1 = Request::registerWrite(1, 3, 150);
const Request addressRead = Request::addressRead();
const Request addressChange = Request::addressChange(1, 5);
const Request deviceInfo = Request::deviceInfo(1);

// The outcome's key, with what tells its cases apart.
QString kindName(const std::optional<Outcome> &o)
{
    if (!o)
        return QStringLiteral("waiting");
    QString name = outcomeKey(o->kind);
    if (o->kind == OutcomeKind::Refused)
        name += QStringLiteral(" %1").arg(o->exceptionCode);
    if (o->kind == OutcomeKind::WrongStation)
        name += QStringLiteral(" %1").arg(o->station);
    return name;
}

} // namespace

// Byte sequences as they stand when judged, before and at the deadline.
TEST(Outcomes, WhatArrivedDecidesTheOutcome)
{
    // The request, what arrived, its judgement while waiting and at the deadline.
    const std::tuple<Request, const char *, const char *, const char *> cases[] = {
        {read2, "01 03 04 09 E6 FF 38 58 7A", "answered", "answered"},
        {read2, "01 03 04 09 E6 FF 38 58 7A 00 FF", "answered", "answered"}, // then noise
        {read2, "01 03 04 09 E6 FF 38 58 7B", "bad_checksum", "bad_checksum"},
        {read2, "01 83 03 01 31", "refused 3", "refused 3"},
        {read2, "07 83 03 E1 30", "wrong_station 7", "wrong_station 7"},
        {read2, "07 03 02 00 01 F1 84", "wrong_station 7", "wrong_station 7"},
        {read2, "01 04 02 00 01 78 F0", "wrong_station 1", "wrong_station 1"}, // other function
        {read2, "", "waiting", "no_reply"},
        {read2, "01 03 04 09", "waiting", "incomplete"},
        {write1, "01 06 0A 00 00 96 0A 7C", "answered", "answered"},
        {write1, "01 86 0C 42 65", "refused 12", "refused 12"},
        // The station-250 read is answered from the module's own address.
        {addressRead, "11 03 02 00 11 B9 8B", "answered", "answered"},
        {addressRead, "11 03 02 00 11 B9 8C", "bad_checksum", "bad_checksum"},
        // An address change echoed from the old or the new address, or in the
        // module's own six-byte layout.
        {addressChange, "01 06 0B 00 00 05 4B ED", "answered", "answered"},
        {addressChange, "05 06 0B 00 00 05 4A 69", "answered", "answered"},
        {addressChange, "01 06 0B 00 00 05 4B", "waiting", "incomplete"},
        {addressChange, "05 06 0C 05 00 00", "answered", "answered"},
        {addressChange, "01 86 02 C3 A1", "refused 2", "refused 2"},
        // Only an answer that confirms the new address is one: a garbled echo
        // or a stray tail could put another address, or 0, in the station box.
        {addressChange, "01 06 0A 00 00 05", "mismatch", "mismatch"},
        {addressChange, "00 00 FF 9B 00 00", "mismatch", "mismatch"},
        {addressChange, "01 06 0B 00 00 07 CA 2C", "mismatch", "mismatch"},
        {addressChange, "03 06 0B 00 00 05 4A 0F", "wrong_station 3", "wrong_station 3"},
        {addressChange, "05 06 0C", "waiting", "incomplete"},
        {addressRead, "00 03 02 00 11 45 88", "wrong_station 0", "wrong_station 0"},
        {deviceInfo, "01 26 0B 4B 43 34 34 32 30 50 2D 56 31 32 75 A3", "answered", "answered"},
        // A function no reply of ours has is garbage, judged as it stands.
        {read2, "01 41 00 00", "bad_checksum", "bad_checksum"},
    };
    for (const auto &[request, received, before, atDeadline] : cases) {
        const QByteArray bytes = QByteArray::fromHex(received);
        EXPECT_EQ(kindName(judgeReply(request, bytes, false)), before) << received;
        EXPECT_EQ(kindName(judgeReply(request, bytes, true)), atDeadline) << received;
    }
}

// A good reply cut anywhere waits, and at the deadline is incomplete; with
// any one bit flipped it is never taken as answered.
TEST(Outcomes, NoCutOrFlippedBitOfAGoodReplyIsAnswered)
{
    const QByteArray good = QByteArray::fromHex("01030409E6FF38587A");
    for (int cut = 1; cut < good.size(); ++cut) {
        EXPECT_EQ(kindName(judgeReply(read2, good.left(cut), false)), "waiting") << cut;
        EXPECT_EQ(kindName(judgeReply(read2, good.left(cut), true)), "incomplete") << cut;
    }
    for (int bit = 0; bit < good.size() * 8; ++bit) {
        QByteArray bad = good;
        bad[bit / 8] = char(bad[bit / 8] ^ (1 << (bit % 8)));
        EXPECT_NE(kindName(judgeReply(read2, bad, true)), "answered") << bit;
    }
}

TEST(Outcomes, WordsForTheStatusBar)
{
    Outcome o;
    // The code's name (the table of names is not repeated here) and its hex.
    const std::pair<int, const char *> refusals[] = {
        {0x01, "模块拒绝：非法功能 (01)"},
        {0x0A, "模块拒绝：网关路径不可用 (0A)"},
        {0x07, "模块拒绝：异常码 07 (07)"},
    };
    o.kind = OutcomeKind::Refused;
    for (const auto &[code, text] : refusals) {
        o.exceptionCode = code;
        EXPECT_EQ(outcomeText(o), QString::fromUtf8(text));
    }
    const std::pair<OutcomeKind, const char *> others[] = {
        {OutcomeKind::Answered, "应答正常 12.4 ms"},
        {OutcomeKind::NoReply, "无应答 (超时 1000 ms)"},
        {OutcomeKind::BadChecksum, "校验错误"},
        {OutcomeKind::WrongStation, "应答来自站 7"},
        {OutcomeKind::Broadcast, "广播已发送 (无应答)"},
        {OutcomeKind::Mismatch, "应答与请求不符"},
    };
    o.responseMs = 12.44;
    o.timeoutMs = 1000;
    o.station = 7;
    for (const auto &[kind, text] : others) {
        o.kind = kind;
        EXPECT_EQ(outcomeText(o), QString::fromUtf8(text));
    }
}

// A port a run could not have says why: the link's reason, the network's
// words for a network line, the module family's words for a pulled adapter.
TEST(Outcomes, WhyARunHadNoPort)
{
    const struct
    {
        ScanEnd end;
        const char *port, *device;
        OpenFailure failure;
        const char *text;
    } cases[] = {
        {ScanEnd::PortNotOpened, "COM3", "/dev/ttyUSB0", OpenFailure::Busy,
         "COM3 (/dev/ttyUSB0)：已被其他程序占用"},
        {ScanEnd::PortNotOpened, "COM5", "", OpenFailure::NoDevice, "COM5：没有这个设备"},
        {ScanEnd::PortLost, "COM3", "/dev/ttyUSB0", OpenFailure::None, "串口连接已断开!"},
        {ScanEnd::PortLost, "COM1", "tcp://gw:4001", OpenFailure::Timeout,
         "连接超时：tcp://gw:4001"},
        {ScanEnd::PortNotOpened, "tcp://gw:4001", "tcp://gw:4001", OpenFailure::Refused,
         "连接被拒绝：tcp://gw:4001"},
        {ScanEnd::PortNotOpened, "tcp://gw:4001", "", OpenFailure::NoHost,
         "找不到主机：tcp://gw:4001"},
        {ScanEnd::PortNotOpened, "tcp://gw:4001", "", OpenFailure::Other,
         "无法连接：tcp://gw:4001"},
        {ScanEnd::Done, "COM1", "", OpenFailure::None, ""},
        {ScanEnd::Cancelled, "COM1", "", OpenFailure::None, ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(portFailureText(c.end, c.port, c.device, c.failure), QString::fromUtf8(c.text))
            << c.text;
}

// The deadline is the timeout plus the reply's time on the wire; a newer
// request supersedes one still waiting; a broadcast waits for nothing.
TEST(ReplyWatch, DeadlineSupersedingAndBroadcast)
{
    ReplyWatch w;
    EXPECT_TRUE(w.start(read2, 100.0, 1000, 9600).isEmpty());
    // 9 reply bytes at 9600 baud take 9.375 ms.
    EXPECT_DOUBLE_EQ(w.remainingMs(100.0), 1009.375);
    EXPECT_FALSE(w.feed(QByteArray::fromHex("01030409"), 110.0));
    EXPECT_EQ(w.bytesStillExpected(), 5);
    const auto answered = w.feed(QByteArray::fromHex("E6FF38587A"), 112.5);
    ASSERT_EQ(kindName(answered), "answered");
    EXPECT_DOUBLE_EQ(answered->responseMs, 12.5);
    EXPECT_FALSE(w.waiting());

    w.start(read2, 200.0, 1000, 9600);
    const QVector<Outcome> done = w.start(Request::registerRead(0, 0, 2), 250.0, 1000, 9600);
    ASSERT_EQ(done.size(), 2);
    EXPECT_EQ(kindName(done[0]), "superseded");
    EXPECT_EQ(kindName(done[1]), "broadcast");
    EXPECT_FALSE(w.waiting());

    w.start(write1, 0.0, 20, 9600);
    const auto silent = w.expire({}, 30.0);
    ASSERT_EQ(kindName(silent), "no_reply");
    EXPECT_EQ(outcomeText(*silent), "无应答 (超时 20 ms)");
}

TEST(OutcomeTotals, AddUpAndResponseTimes)
{
    OutcomeTotals t;
    for (auto [kind, ms] : {std::pair{OutcomeKind::Answered, 10.0},
                            {OutcomeKind::Answered, 30.0},
                            {OutcomeKind::Refused, 5.0},
                            {OutcomeKind::NoReply, -1.0},
                            {OutcomeKind::Superseded, -1.0},
                            {OutcomeKind::Broadcast, -1.0}}) {
        Outcome o;
        o.kind = kind;
        o.responseMs = ms;
        t.add(o);
    }
    EXPECT_EQ(t.sent, 5);
    EXPECT_EQ(t.sent, t.answered + t.noReply + t.errors() + t.superseded);
    EXPECT_EQ(totalsText(t), "发送 5  应答 2  超时 1  错误 1  取代 1  响应 30.0 / 20.0 / 30.0 ms");
}

TEST(ResponseTimes, MeanMaxAndPercentiles)
{
    ResponseTimes t;
    for (int i = 1; i <= 100; ++i)
        t.add(i); // 1 .. 100 ms
    t.add(2500);  // beyond the histogram's last step
    EXPECT_NEAR(t.mean(), (5050 + 2500) / 101.0, 1e-9);
    EXPECT_DOUBLE_EQ(t.max(), 2500);
    EXPECT_DOUBLE_EQ(t.last(), 2500);
    EXPECT_NEAR(t.p95(), 96, 0.15); // a 0.1 ms step
    EXPECT_NEAR(t.percentile(50), 51, 0.15);
    EXPECT_DOUBLE_EQ(t.percentile(100), 2500);
}
