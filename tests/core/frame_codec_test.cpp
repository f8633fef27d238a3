#include "protocol/FrameCodec.h"
#include "protocol/Framing.h"
#include "support/Frames.h"

#include <gtest/gtest.h>

#include <random>

using namespace kc;

TEST(Crc16, WorkedExamplesFillTheHoldersLowByteFirst)
{
    struct Case
    {
        QByteArray frame;
        int hi, lo;
    };
    const Case cases[] = {
        {bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A}), 0xC5, 0xCD},
        {bytes({0x02, 0x03, 0x00, 0x00, 0x00, 0x0B}), 0x04, 0x3E},
        {bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x0F}), 0x05, 0xCE},
        {bytes({0xFA, 0x03, 0x00, 0x00, 0x00, 0x01}), 0x91, 0x81},
        {bytes({0x01, 0x26, 0x00, 0x00, 0x00, 0x05}), 0xC8, 0x0E},
    };
    for (const auto &c : cases) {
        const CrcBytes crc = Crc16(c.frame, 5);
        EXPECT_EQ(crc.HiByte, c.hi) << c.frame.toHex().constData();
        EXPECT_EQ(crc.LoByte, c.lo) << c.frame.toHex().constData();
    }
}

TEST(Crc16, IgnoresBytesBehindTheLastIndex)
{
    const QByteArray zeros = bytes({0x02, 0x03, 0x00, 0x00, 0x00, 0x0B, 0x00, 0x00});
    const QByteArray stale = bytes({0x02, 0x03, 0x00, 0x00, 0x00, 0x0B, 0x5A, 0xA5});
    EXPECT_EQ(Crc16(zeros, 5).HiByte, Crc16(stale, 5).HiByte);
    EXPECT_EQ(Crc16(zeros, 5).LoByte, Crc16(stale, 5).LoByte);
}

TEST(Crc16, MinusOneCoversNothing)
{
    const CrcBytes crc = Crc16(bytes({0x12, 0x34}), -1);
    EXPECT_EQ(crc.HiByte, 0xFF);
    EXPECT_EQ(crc.LoByte, 0xFF);
}

// A frame followed by its CRC, low byte first, checks to zero, and holds.
TEST(Crc16, ClosedFramesCheckToZero)
{
    std::mt19937 rng(4420);
    for (int round = 0; round < 500; ++round) {
        QByteArray frame(int(rng() % 40) + 1, '\0');
        for (auto &ch : frame)
            ch = char(rng());
        const CrcBytes crc = Crc16(frame, int(frame.size()) - 1);
        frame.append(char(crc.HiByte)).append(char(crc.LoByte));
        ASSERT_EQ(crc16Value(frame.constData(), int(frame.size())), 0);
        ASSERT_TRUE(crcHolds(frame + "x", int(frame.size())));
        ASSERT_FALSE(crcHolds(frame, int(frame.size()) + 1));
    }
}

TEST(FormatHex, AlwaysTwoUpperCaseDigits)
{
    const std::pair<int, const char *> cases[] = {{0x00, "00"}, {0x0A, "0A"}, {0x0F, "0F"},
                                                  {0x10, "10"}, {0xAB, "AB"}, {0xFF, "FF"}};
    for (const auto &[value, text] : cases)
        EXPECT_EQ(FormatHex(std::uint8_t(value)), QString::fromLatin1(text));
}

TEST(Traces, SentEndsWithASpaceReceivedStartsWithOne)
{
    const QByteArray frame = closeFrame(0x02, 0x03, 0, 0, 0, 0x0B);
    EXPECT_EQ(frame, bytes({0x02, 0x03, 0x00, 0x00, 0x00, 0x0B, 0x04, 0x3E}));
    EXPECT_EQ(sentTrace(frame), QStringLiteral("02 03 00 00 00 0B 04 3E "));
    EXPECT_EQ(sentTrace(frame).size(), 24);
    EXPECT_EQ(receivedTrace(bytes({0x01, 0x03, 0x02})), QStringLiteral(" 01 03 02"));
    EXPECT_EQ(receivedTrace({}), QString());
}

// A reply's length from its first bytes: what the engine waits for.
TEST(Framing, ReplyLengthFromTheFunctionCode)
{
    const std::pair<QByteArray, int> cases[] = {
        {bytes({1}), 0},           {bytes({1, 3}), 0},          {bytes({1, 3, 30}), 35},
        {bytes({1, 4, 2}), 7},     {bytes({1, 1, 1}), 6},       {bytes({1, 2, 0}), 5},
        {bytes({1, 6}), 8},        {bytes({1, 5}), 8},          {bytes({1, 0x0F}), 8},
        {bytes({1, 0x10}), 8},     {bytes({1, 0x26}), 16},      {bytes({1, 0x83}), 5},
        {bytes({1, 0xA6, 1}), 5},  {bytes({1, 0x41}), -1},      {bytes({1, 0x00}), -1},
    };
    for (const auto &[head, length] : cases)
        EXPECT_EQ(replyFrameLength(head), length) << head.toHex().constData();
}
