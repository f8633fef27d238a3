#include "operations/Counters.h"
#include "operations/Replies.h"
#include "protocol/FrameCodec.h"
#include "protocol/Framing.h"
#include "support/Frames.h"

#include <gtest/gtest.h>

#include <limits>

using namespace kc;

namespace {

QVector<ValueText> vt(std::initializer_list<std::pair<int, const char *>> list)
{
    QVector<ValueText> v;
    for (const auto &[i, t] : list)
        v.push_back({i, QString::fromLatin1(t)});
    return v;
}

} // namespace

TEST(RegisterReadReply, WordsLandInTheirRegistersBox)
{
    struct Case
    {
        QByteArray reply;
        int start;
        QVector<ValueText> values;
    };
    const QByteArray odd = withCrc(bytes({1, 3, 5, 0x09, 0xE6, 0x00, 0x05, 0x77}));
    const Case cases[] = {
        {readReply({0x09E6, 0xFF38}), 0, vt({{0, "25.34"}, {1, "-1.99"}})},
        {readReply({20000, 20001}), 0, vt({{0, "200.00"}, {1, "-455.34"}})},
        {readReply({65535, 65535, 65535, 65535}), 0,
         vt({{0, "0.00"}, {1, "0.00"}, {2, "0"}, {3, "0.00"}})},
        {readReply({32768, 32769}), 3, vt({{3, "327.68"}, {4, "-327.66"}})},
        {readReply({9600, 40000}), 12, vt({{12, "9600"}, {13, "40000"}})},
        // Start 3 puts register 3 in box 3, register 4 in box 4.
        {readReply({1, 2}), 3, vt({{3, "0.01"}, {4, "0.02"}})},
        {readReply({1, 2}), 1, vt({{1, "0.01"}, {2, "2"}})},
        // Words past box 14 are dropped; so are words before box 0.
        {readReply({7, 8, 9}), 13, vt({{13, "7"}, {14, "8"}})},
        {readReply({7, 8, 9}), -1, vt({{0, "0.08"}, {1, "0.09"}})},
        {readReply({7}), 200, {}},
        // An odd byte count leaves its last data byte unused.
        {odd, 0, vt({{0, "25.34"}, {1, "0.05"}})},
        {withCrc(bytes({1, 3, 1, 0x09})), 0, {}},
        {withCrc(bytes({1, 3, 0})), 0, {}},
    };
    for (const auto &c : cases) {
        const Delivery d = decodeDelivery(RequestKind::RegisterRead, c.reply, c.start);
        EXPECT_EQ(d.values, c.values) << c.reply.toHex().constData();
        EXPECT_EQ(d.hex, receivedTrace(c.reply));
    }
}

namespace {
QString logged(const QVector<UploadReadings> &readings)
{
    QStringList lines;
    for (const auto &r : readings)
        lines << r.first + QLatin1Char(' ') + r.second;
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
        {"[025.3,065.2", "25.3 65.2"}, // twelve bytes: the closing bracket is still on the line
        {"X025.3,065.2]", ""},         // thirteen bytes need both brackets
        {"[025.3,065.2)", ""},
        {"[025.3,065.", ""},   // fewer than twelve
        {"[0a5.3,065.2]", ""}, // a non-digit in a digit position
        {"[025.3,06-.2]", ""}, // "-" only counts in the hundreds place
        {"[ 25.3,065.2]", ""},
        {"[025x3,065y2]", "25.3 65.2"}, // the point positions are not examined
        // Every whole record of a delivery is logged, noise around them is not.
        {"[025.3,065.2][030.0,070.0]", "25.3 65.2|30 70"},
        {"\x05]][025.3,065.2]zz", "25.3 65.2"},
        {"[[025.3,065.2]", "25.3 65.2"},
    };
    for (const auto &[delivery, expected] : cases) {
        const Delivery d = decodeDelivery(RequestKind::Upload, delivery, 0);
        EXPECT_EQ(logged(d.uploads), QString::fromLatin1(expected)) << delivery.constData();
    }
}

TEST(AddressReplies, StationByteAndChangeEcho)
{
    struct Case
    {
        RequestKind kind;
        QByteArray reply;
        std::optional<int> address;
    };
    const Case cases[] = {
        {RequestKind::Station, readReply({1}, 17), 17},
        {RequestKind::Station, bytes({0x22}), 0x22},
        {RequestKind::Station, {}, std::nullopt},
        // The standard echo of a change to 5 carries the new address in byte 5.
        {RequestKind::AddressChange, closeFrame(1, 6, 0x0B, 0, 0, 5), 5},
        {RequestKind::AddressChange, closeFrame(1, 6, 0x0B, 0, 0, 5).left(6), 5},
        // Anything else is read at byte 3.
        {RequestKind::AddressChange, bytes({5, 6, 0x0C, 0x09, 0, 0}), 9},
        {RequestKind::AddressChange, bytes({5, 3, 2, 0x07, 0, 0}), 7},
        {RequestKind::AddressChange, bytes({1, 6, 0x0B, 0x00}), 0},
        {RequestKind::AddressChange, bytes({1, 6, 0x0B}), std::nullopt},
    };
    for (const auto &c : cases) {
        const Delivery d = decodeDelivery(c.kind, c.reply, 0);
        EXPECT_EQ(d.address, c.address) << c.reply.toHex().constData();
    }
}

TEST(DeviceInfoReply, ElevenCharactersOneByteEach)
{
    QByteArray reply = bytes({1, 0x26, 0x0B}) + QByteArray("KC4420P-V12") + bytes({0, 0});
    Delivery d = decodeDelivery(RequestKind::DeviceInfo, reply, 0);
    ASSERT_TRUE(d.deviceText);
    EXPECT_EQ(*d.deviceText, QStringLiteral("KC4420P-V12"));
    reply[5] = char(0xE9);
    reply[6] = char(0x00);
    d = decodeDelivery(RequestKind::DeviceInfo, reply, 0);
    ASSERT_TRUE(d.deviceText);
    EXPECT_EQ(d.deviceText->size(), 11);
    EXPECT_EQ(d.deviceText->at(2), QChar(0xE9));
    EXPECT_FALSE(decodeDelivery(RequestKind::DeviceInfo, reply.left(13), 0).deviceText);
    EXPECT_TRUE(decodeDelivery(RequestKind::DeviceInfo, reply.left(14), 0).deviceText);
}

TEST(NoRequestYet, OnlyShowsTheBytes)
{
    const QByteArray reply = readReply({1, 2});
    const Delivery d = decodeDelivery(RequestKind::None, reply, 0);
    EXPECT_EQ(d.hex, receivedTrace(reply));
    EXPECT_TRUE(d.values.isEmpty());
    EXPECT_FALSE(d.address || !d.uploads.isEmpty() || d.deviceText);
}

TEST(Counters, ReceptionsStopAtTheCeilingCyclesWrapAtATick)
{
    constexpr auto top = std::numeric_limits<std::int32_t>::max();
    const std::pair<std::int32_t, std::int32_t> receptions[] = {{0, 1}, {top - 1, top}, {top, top}};
    for (const auto &[count, next] : receptions)
        EXPECT_EQ(nextRecvCount(count), next) << count;
    const std::pair<std::int64_t, std::int64_t> cycles[] = {
        {0, 0}, {65535, 65535}, {65536, 0}, {1LL << 40, 0}};
    for (const auto &[count, atTick] : cycles)
        EXPECT_EQ(cycleCountAtTick(count), atTick) << count;
}

// Records fed in pieces, as a line at 9600 baud delivers them: each record is
// logged once, when enough of it has arrived, and a late byte never shifts
// the next record out of place.
TEST(UploadFramer, RecordsInPiecesAreNeitherLostNorShifted)
{
    const QByteArray stream = QByteArray("[025.3,065.2]") + "[-05.0,066.0]" + "[030.1,070.9]";
    // Deliver as the threshold emulation would: whenever `threshold` bytes are buffered.
    for (int chunk : {1, 2, 3, 5, 7, 12, 13, 39}) {
        UploadFramer framer;
        QVector<UploadReadings> all;
        QByteArray buffered;
        int threshold = UploadFramer::recordThreshold;
        for (int i = 0; i < stream.size(); i += chunk) {
            buffered += stream.mid(i, chunk);
            if (buffered.size() < threshold)
                continue;
            const Delivery d = decodeDelivery(RequestKind::Upload, buffered, 0, &framer);
            buffered.clear();
            threshold = d.rearm;
            ASSERT_GT(threshold, 0);
            all += d.uploads;
        }
        EXPECT_EQ(logged(all), "25.3 65.2|-5 66|30.1 70.9") << "chunk " << chunk;
    }
}

TEST(UploadFramer, SkipsNoiseAndRecovers)
{
    UploadFramer framer;
    auto feed = [&](const QByteArray &b) {
        return decodeDelivery(RequestKind::Upload, b, 0, &framer);
    };
    auto step = feed("\x01\x02]xx[025.3,065.2]");
    EXPECT_EQ(logged(step.uploads), "25.3 65.2");
    // A stray "[" in noise holds at most one record's worth, then lets go.
    step = feed("zz[ab");
    EXPECT_TRUE(step.uploads.isEmpty());
    EXPECT_EQ(step.rearm, UploadFramer::recordThreshold - 3);
    step = feed("cdefghijk");
    EXPECT_TRUE(step.uploads.isEmpty());
    EXPECT_EQ(step.rearm, UploadFramer::recordThreshold);
    step = feed("[100.0,000.0]");
    EXPECT_EQ(logged(step.uploads), "100 0");
    step = feed("]]]]]]]]]]]]]");
    EXPECT_TRUE(step.uploads.isEmpty());
    EXPECT_EQ(step.rearm, UploadFramer::recordThreshold);
    // reset() forgets a partial record.
    framer.feed("[025.3");
    framer.reset();
    EXPECT_TRUE(feed(",065.2]").uploads.isEmpty());
}
