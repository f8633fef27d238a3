#include "protocol/FrameCodec.h"
#include "protocol/Framing.h"
#include "support/Frames.h"

#include <gtest/gtest.h>

#include <random>

using namespace kc;

// The CRC's worked examples, and the traces' spelling, are the frames of requests_test.cpp.

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

// A reply's length from its first bytes: what the engine waits for.
TEST(Framing, ReplyLengthFromTheFunctionCode)
{
    const std::pair<QByteArray, int> cases[] = {
        {bytes({1}), 0},          {bytes({1, 3}), 0},     {bytes({1, 3, 30}), 35},
        {bytes({1, 4, 2}), 7},    {bytes({1, 1, 1}), 6},  {bytes({1, 2, 0}), 5},
        {bytes({1, 6}), 8},       {bytes({1, 5}), 8},     {bytes({1, 0x0F}), 8},
        {bytes({1, 0x10}), 8},    {bytes({1, 0x26}), 16}, {bytes({1, 0x83}), 5},
        {bytes({1, 0xA6, 1}), 5}, {bytes({1, 0x41}), -1}, {bytes({1, 0x00}), -1},
    };
    for (const auto &[head, length] : cases)
        EXPECT_EQ(replyFrameLength(head), length) << head.toHex().constData();
}
