#include "Crc16.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Bit-at-a-time reference, so the table is checked against a different method;
// frames with known CRCs are checked in ModbusSlaveTest.
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

TEST(Crc, TooShortIsNeverValid)
{
    // The CRC over these two bytes is zero, yet they are no frame.
    EXPECT_FALSE(kcsim::hasValidCrc({0xFF, 0xFF}));
}

} // namespace
