#include "operations/Counters.h"
#include "operations/ModuleReading.h"
#include "operations/Replies.h"
#include "protocol/FrameCodec.h"
#include "protocol/Framing.h"
#include "support/Frames.h"
#include "support/QtPrint.h"

#include <gtest/gtest.h>

#include <limits>

using namespace kc;

namespace {

// The outcome of a reply that came whole.
Outcome answer(const Request &asked, const QByteArray &reply)
{
    return judgeReply(asked, reply, true).value_or(Outcome{});
}

QString shown(const QVector<RegisterValue> &values)
{
    QStringList texts;
    for (const RegisterValue &v : values)
        texts << QStringLiteral("%1=%2").arg(v.row).arg(v.text());
    return texts.join(QLatin1Char(' '));
}

} // namespace

// Each row's display rule is RegisterMap's; here, which row a word lands in.
TEST(RegisterReadReply, WordsLandInTheirRegistersRow)
{
    // The read's start and count, the reply, and the rows' values.
    const std::tuple<int, int, QByteArray, const char *> cases[] = {
        {0, 2, readReply({0x09E6, 0xFF38}), "0=25.34 1=-1.99"},
        {12, 2, readReply({9600, 40000}), "12=9600 13=40000"},
        {1, 2, readReply({1, 2}), "1=0.01 2=2"},
        // Words past the last row are dropped.
        {13, 3, readReply({7, 8, 9}), "13=7 14=8"},
        {200, 1, readReply({7}), ""},
        // An odd byte count leaves its last data byte unused.
        {0, 2, withCrc(bytes({1, 3, 5, 0x09, 0xE6, 0x00, 0x05, 0x77})), "0=25.34 1=0.05"},
        {0, 1, withCrc(bytes({1, 3, 0})), ""},
    };
    for (const auto &[start, count, reply, values] : cases) {
        const Outcome o = answer(Request::registerRead(1, start, count), reply);
        ASSERT_TRUE(o.answered()) << reply.toHex().constData();
        EXPECT_EQ(shown(registerValues(o)), QString::fromLatin1(values))
            << reply.toHex().constData();
    }
}

// Nothing is shown, printed, logged or applied from a reply that was not
// answered: each decoding gives nothing for a garbled, foreign or refused one.
TEST(FailedReplies, GiveNothingToApply)
{
    QByteArray flipped = readReply({0x09E6, 0x1978});
    flipped[4] = char(flipped[4] ^ 0x10);
    const std::pair<Request, QByteArray> failed[] = {
        {Request::registerRead(1, 0, 2), flipped},
        {Request::registerRead(1, 0, 2), readReply({0x09E6, 0x1978}, 2)},
        {Request::registerRead(1, 3, 2), withCrc(bytes({1, 0x83, 0x02}))},
        {Request::deviceInfo(1), withCrc(bytes({1, 0xA6, 0x01}))},
        {Request::addressRead(), readReply({0}, 0)},   // a module is never at 0
        {Request::addressRead(), readReply({0}, 251)}, // nor above 250
        {Request::registerWrite(1, 5, 3000), withCrc(bytes({1, 0x86, 0x03}))},
    };
    for (const auto &[asked, reply] : failed) {
        const Outcome o = answer(asked, reply);
        EXPECT_FALSE(o.answered()) << reply.toHex().constData();
        EXPECT_TRUE(registerValues(o).isEmpty());
        EXPECT_FALSE(readingOf(o) || deviceTextOf(o) || confirmedAddress(o))
            << reply.toHex().constData();
    }
}

TEST(AddressReplies, TheAddressEachAnswerConfirms)
{
    const std::tuple<Request, QByteArray, std::optional<int>> cases[] = {
        {Request::addressRead(), readReply({1}, 17), 17},
        {Request::registerWrite(2, 3, 150), closeFrame(2, 6, 0x0A, 0, 0, 0x96), 2},
        {Request::addressChange(1, 5), closeFrame(1, 6, 0x0B, 0, 0, 5), 5},
        {Request::addressChange(1, 5), bytes({5, 6, 0x0B, 5, 0, 0}), 5},
        // A broadcast's writer or a station beyond 250 never reaches the station box.
        {Request::registerWrite(251, 3, 150), closeFrame(251, 6, 0x0A, 0, 0, 0x96), std::nullopt},
        {Request::registerRead(1, 0, 1), readReply({1}, 1), std::nullopt},
    };
    for (const auto &[asked, reply, address] : cases)
        EXPECT_EQ(confirmedAddress(answer(asked, reply)), address) << reply.toHex().constData();
    // The word of the station-250 read is no register's value.
    EXPECT_TRUE(registerValues(answer(Request::addressRead(), readReply({1}, 17))).isEmpty());
}

TEST(DeviceInfoReply, ElevenCharactersOneByteEach)
{
    QByteArray body = bytes({1, 0x26, 0x0B}) + QByteArray("KC4420P-V12");
    EXPECT_EQ(deviceTextOf(answer(Request::deviceInfo(1), withCrc(body))),
              QStringLiteral("KC4420P-V12"));
    body[5] = char(0xE9);
    body[6] = char(0x00);
    const auto text = deviceTextOf(answer(Request::deviceInfo(1), withCrc(body)));
    ASSERT_TRUE(text);
    EXPECT_EQ(text->size(), 11);
    EXPECT_EQ(text->at(2), QChar(0xE9));
}

TEST(ModuleReading, ReadingAndLimitsOnlyWhenTheReadCoveredThem)
{
    const Request all = Request::registerRead(1, 0, 9);
    const auto r =
        readingOf(answer(all, readReply({2534, 6520, 1, 0, 0, 5000, 64535, 9000, 1000})));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->temperature, 2534);
    EXPECT_EQ(r->alarmCode, 1);
    ASSERT_TRUE(r->limits);
    EXPECT_EQ(r->limits->temperatureLow, -1000);
    const auto two = readingOf(answer(Request::registerRead(1, 0, 2), readReply({2534, 6520})));
    ASSERT_TRUE(two);
    EXPECT_FALSE(two->limits || two->alarmCode);
    EXPECT_FALSE(readingOf(answer(Request::registerRead(1, 1, 2), readReply({6520, 0}))));
    const std::pair<std::optional<int>, const char *> alarms[] = {
        {0, "正常"}, {1, "温度报警"}, {2, "湿度报警"}, {7, "报警码 7"}, {std::nullopt, ""}};
    for (const auto &[code, words] : alarms)
        EXPECT_EQ(alarmText(code), QString::fromUtf8(words));
}

namespace {
QString logged(const QVector<QByteArray> &records)
{
    QStringList lines;
    for (const auto &record : records) {
        const auto r = decodeUploadRecord(record);
        lines << (r ? r->first + QLatin1Char(' ') + r->second : QStringLiteral("?"));
    }
    return lines.join(QLatin1Char('|'));
}
} // namespace

TEST(UploadRecord, ReadingsAndLengthRules)
{
    const std::pair<QByteArray, const char *> cases[] = {
        {"[025.3,065.2]", "25.3 65.2"},
        {"[025.0,065.0]", "25 65"},
        {"[100.0,000.0]", "100 0"},
        {"[-05.3,065.2]", "-5.3 65.2"},
        {"[-15.3,-00.5]", "-15.3 -0.5"},
        {"[999.9,000.1]", "999.9 0.1"},
        {"[025.3,065.2", ""}, // the closing bracket still on the line
        {"X025.3,065.2]", ""},
        {"[025.3,065.2)", ""},
        {"[0a5.3,065.2]", ""}, // a non-digit in a digit position
        {"[025.3,06-.2]", ""}, // "-" only counts in the hundreds place
        {"[ 25.3,065.2]", ""},
        {"[025x3,065y2]", "25.3 65.2"}, // the point positions are not examined
    };
    for (const auto &[record, expected] : cases) {
        const auto r = decodeUploadRecord(record);
        EXPECT_EQ(r ? r->first + QLatin1Char(' ') + r->second : QString(),
                  QString::fromLatin1(expected))
            << record.constData();
    }
}

// Records fed in pieces of every size, as a slow line delivers them: each is
// logged once, noise around them is skipped, and a late byte never shifts the
// next record out of place.
TEST(UploadFramer, RecordsInPiecesAreNeitherLostNorShifted)
{
    const QByteArray stream =
        QByteArray("\x05]][025.3,065.2]zz[[-05.0,066.0]") + "[030.1,070.9]" + "[ab cdefghijk";
    for (int chunk = 1; chunk <= stream.size(); ++chunk) {
        UploadFramer framer;
        QVector<QByteArray> all;
        for (int i = 0; i < stream.size(); i += chunk)
            all += framer.feed(stream.mid(i, chunk)).records;
        EXPECT_EQ(logged(all), "25.3 65.2|-5 66|30.1 70.9") << "chunk " << chunk;
    }
    UploadFramer framer;
    framer.feed("[025.3");
    framer.reset(); // forgets a partial record
    EXPECT_TRUE(framer.feed(",065.2]").records.isEmpty());
}

TEST(Counters, ReceptionsStopAtTheCeilingCyclesWrapAtATick)
{
    constexpr auto top = std::numeric_limits<std::int32_t>::max();
    const std::pair<std::int32_t, std::int32_t> receptions[] = {{0, 1}, {top - 1, top}, {top, top}};
    for (const auto &[count, next] : receptions)
        EXPECT_EQ(nextReceptionCount(count), next) << count;
    const std::pair<std::int64_t, std::int64_t> cycles[] = {
        {0, 0}, {65535, 65535}, {65536, 0}, {1LL << 40, 0}};
    for (const auto &[count, atTick] : cycles)
        EXPECT_EQ(cycleCountAtTick(count), atTick) << count;
}
