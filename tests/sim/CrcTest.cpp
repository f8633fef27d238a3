#include "Crc16.h"
#include "HexBytes.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Bit-at-a-time reference, so the table is checked against a different method.
std::uint16_t bitwiseCrc(const std::vector<std::uint8_t> &data)
{
    std::uint16_t crc = 0xFFFF;
    for (const auto byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

struct CrcCase
{
    const char *frame;
    const char *wire; // the two CRC bytes in line order
};

class CrcKnownValues : public ::testing::TestWithParam<CrcCase>
{
};

TEST_P(CrcKnownValues, AppendsLowByteFirst)
{
    std::vector<std::uint8_t> frame = hexBytes(GetParam().frame);
    const std::size_t bodySize = frame.size();
    kcsim::appendCrc(frame);
    ASSERT_EQ(frame.size(), bodySize + 2);
    EXPECT_EQ(hexText({frame.end() - 2, frame.end()}), GetParam().wire);
}

TEST_P(CrcKnownValues, CrcOverFrameWithItsCrcIsZero)
{
    std::vector<std::uint8_t> frame = hexBytes(GetParam().frame);
    kcsim::appendCrc(frame);
    EXPECT_EQ(kcsim::crc16(frame), 0);
    EXPECT_TRUE(kcsim::hasValidCrc(frame));
}

INSTANTIATE_TEST_SUITE_P(
    Frames, CrcKnownValues,
    ::testing::Values(CrcCase{"01 03 00 00 00 0A", "C5 CD"}, CrcCase{"02 03 00 00 00 0B", "04 3E"},
                      CrcCase{"01 03 00 00 00 0F", "05 CE"}, CrcCase{"FA 03 00 00 00 01", "91 81"},
                      CrcCase{"01 26 00 00 00 05", "C8 0E"}, CrcCase{"01 83 02", "C0 F1"}));

TEST(Crc, EmptyInputLeavesInitialValue)
{
    EXPECT_EQ(kcsim::crc16(std::vector<std::uint8_t>{}), 0xFFFF);
}

TEST(Crc, TableMatchesBitwiseReferenceOnRandomData)
{
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> byteDist(0, 255);
    std::uniform_int_distribution<int> sizeDist(1, 300);
    for (int round = 0; round < 200; ++round) {
        std::vector<std::uint8_t> data(static_cast<std::size_t>(sizeDist(rng)));
        for (auto &byte : data)
            byte = static_cast<std::uint8_t>(byteDist(rng));
        ASSERT_EQ(kcsim::crc16(data), bitwiseCrc(data)) << "round " << round;
    }
}

TEST(Crc, EverySingleBitFlipIsDetected)
{
    std::vector<std::uint8_t> frame = hexBytes("01 03 1E 09 E6 19 78 00 00 00 00 00 00 13 88");
    kcsim::appendCrc(frame);
    for (std::size_t i = 0; i < frame.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            std::vector<std::uint8_t> damaged = frame;
            damaged[i] ^= static_cast<std::uint8_t>(1u << bit);
            EXPECT_FALSE(kcsim::hasValidCrc(damaged)) << "byte " << i << " bit " << bit;
        }
    }
}

TEST(Crc, TooShortFramesAreNeverValid)
{
    EXPECT_FALSE(kcsim::hasValidCrc({}));
    EXPECT_FALSE(kcsim::hasValidCrc({0xFF, 0xFF}));
}

} // namespace
