#include "operations/Outcomes.h"
#include "operations/Requests.h"
#include "support/Frames.h"
#include "support/QtPrint.h"

#include <gtest/gtest.h>

using namespace kc;

namespace {

RequestPlan plan(const char *frameHex, RequestKind kind, int threshold)
{
    return RequestPlan{QByteArray::fromHex(frameHex), kind, threshold};
}

const RequestPlan read2 = plan("010300000002C40B", RequestKind::RegisterRead, 9);
const RequestPlan write1 = plan("01060A0000960A7C", RequestKind::Station, 6);
const RequestPlan addressRead = plan("FA03000000019181", RequestKind::Station, 6);
const RequestPlan addressChange = plan("01060B0000054BED", RequestKind::AddressChange, 6);
const RequestPlan deviceInfo = plan("012600000005C80E", RequestKind::DeviceInfo, 16);

QString kindName(const std::optional<Outcome> &o)
{
    if (!o)
        return QStringLiteral("waiting");
    switch (o->kind) {
    case OutcomeKind::Answered:
        return QStringLiteral("answered");
    case OutcomeKind::Refused:
        return QStringLiteral("refused %1").arg(o->exceptionCode);
    case OutcomeKind::BadChecksum:
        return QStringLiteral("bad checksum");
    case OutcomeKind::WrongStation:
        return QStringLiteral("wrong station %1").arg(o->station);
    case OutcomeKind::Incomplete:
        return QStringLiteral("incomplete");
    case OutcomeKind::NoReply:
        return QStringLiteral("no reply");
    case OutcomeKind::Broadcast:
        return QStringLiteral("broadcast");
    case OutcomeKind::Superseded:
        return QStringLiteral("superseded");
    }
    return {};
}

} // namespace

// Byte sequences as they stand when judged, before and at the deadline.
TEST(Outcomes, WhatArrivedDecidesTheOutcome)
{
    struct Case
    {
        const RequestPlan &request;
        const char *received;
        const char *before; // judged while waiting
        const char *atDeadline;
    };
    const Case cases[] = {
        {read2, "01 03 04 09 E6 FF 38 58 7A", "answered", "answered"},
        {read2, "01 03 04 09 E6 FF 38 58 7A 00 FF", "answered", "answered"}, // then noise
        {read2, "01 03 04 09 E6 FF 38 58 7B", "bad checksum", "bad checksum"},
        {read2, "01 83 03 01 31", "refused 3", "refused 3"},
        {read2, "07 83 03 E1 30", "wrong station 7", "wrong station 7"},
        {read2, "07 03 02 00 01 F1 84", "wrong station 7", "wrong station 7"},
        {read2, "01 04 02 00 01 78 F0", "wrong station 1", "wrong station 1"}, // other function
        {read2, "", "waiting", "no reply"},
        {read2, "01 03 04 09", "waiting", "incomplete"},
        {write1, "01 06 0A 00 00 96 0A 7C", "answered", "answered"},
        {write1, "01 86 0C 42 65", "refused 12", "refused 12"},
        // The station-250 read is answered from the module's own address.
        {addressRead, "11 03 02 00 11 B9 8B", "answered", "answered"},
        {addressRead, "11 03 02 00 11 B9 8C", "bad checksum", "bad checksum"},
        // An address change echoed from the old or the new address, or in the
        // module's own six-byte layout.
        {addressChange, "01 06 0B 00 00 05 4B ED", "answered", "answered"},
        {addressChange, "05 06 0B 00 00 05 4A 69", "answered", "answered"},
        {addressChange, "01 06 0B 00 00 05 4B", "waiting", "incomplete"},
        {addressChange, "05 06 0C 05 00 00", "answered", "answered"},
        {deviceInfo, "01 26 0B 4B 43 34 34 32 30 50 2D 56 31 32 75 A3", "answered", "answered"},
        // A function no reply of ours has is garbage, judged as it stands.
        {read2, "01 41 00 00", "bad checksum", "bad checksum"},
    };
    for (const auto &c : cases) {
        const Expectation e = expectationOf(c.request);
        const QByteArray bytes = QByteArray::fromHex(c.received);
        EXPECT_EQ(kindName(judgeReply(e, bytes, false)), QString::fromLatin1(c.before))
            << c.received;
        EXPECT_EQ(kindName(judgeReply(e, bytes, true)), QString::fromLatin1(c.atDeadline))
            << c.received;
    }
}

// A good reply cut anywhere waits, and at the deadline is incomplete; with
// any one bit flipped it is never taken as answered.
TEST(Outcomes, NoCutOrFlippedBitOfAGoodReplyIsAnswered)
{
    const QByteArray good = QByteArray::fromHex("01030409E6FF38587A");
    const Expectation e = expectationOf(read2);
    for (int cut = 1; cut < good.size(); ++cut) {
        EXPECT_EQ(kindName(judgeReply(e, good.left(cut), false)), "waiting") << cut;
        EXPECT_EQ(kindName(judgeReply(e, good.left(cut), true)), "incomplete") << cut;
    }
    for (int bit = 0; bit < good.size() * 8; ++bit) {
        QByteArray bad = good;
        bad[bit / 8] = char(bad[bit / 8] ^ (1 << (bit % 8)));
        EXPECT_NE(kindName(judgeReply(e, bad, true)), "answered") << bit;
    }
}

TEST(Outcomes, WordsForTheStatusBar)
{
    Outcome o;
    const std::pair<int, const char *> refusals[] = {
        {0x01, "模块拒绝：非法功能 (01)"},           {0x02, "模块拒绝：非法数据地址 (02)"},
        {0x03, "模块拒绝：非法数据值 (03)"},         {0x04, "模块拒绝：从站设备故障 (04)"},
        {0x05, "模块拒绝：已确认，处理中 (05)"},     {0x06, "模块拒绝：从站设备忙 (06)"},
        {0x08, "模块拒绝：存储奇偶性差错 (08)"},     {0x0A, "模块拒绝：网关路径不可用 (0A)"},
        {0x0B, "模块拒绝：网关目标设备无响应 (0B)"}, {0x07, "模块拒绝：异常码 07 (07)"},
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
    };
    o.responseMs = 12.44;
    o.timeoutMs = 1000;
    o.station = 7;
    for (const auto &[kind, text] : others) {
        o.kind = kind;
        EXPECT_EQ(outcomeText(o), QString::fromUtf8(text));
    }
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
    const QVector<Outcome> done =
        w.start(plan("000300000002C5DA", RequestKind::RegisterRead, 9), 250.0, 1000, 9600);
    ASSERT_EQ(done.size(), 2);
    EXPECT_EQ(kindName(done[0]), "superseded");
    EXPECT_EQ(kindName(done[1]), "broadcast");
    EXPECT_FALSE(w.waiting());

    w.start(write1, 0.0, 20, 9600);
    const auto silent = w.expire({}, 30.0);
    ASSERT_EQ(kindName(silent), "no reply");
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
