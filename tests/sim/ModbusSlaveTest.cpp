#include "ModbusSlave.h"
#include "Crc16.h"
#include "HexBytes.h"

#include <gtest/gtest.h>

namespace {

using kcsim::Disposition;
using kcsim::ModbusSlave;
using kcsim::RegisterStore;
namespace reg = kcsim::reg;

// Requests and replies are complete frames with CRCs computed independently.
struct FrameCase
{
    const char *name;
    const char *request;
    const char *reply; // empty when the module stays silent
    Disposition disposition;
};

class SingleRequest : public ::testing::TestWithParam<FrameCase>
{
};

TEST_P(SingleRequest, Reply)
{
    RegisterStore store;
    ModbusSlave slave(store, 1, "KC4420P-V12");
    const kcsim::Outcome outcome = slave.handleFrame(hexBytes(GetParam().request));
    EXPECT_EQ(outcome.disposition, GetParam().disposition);
    EXPECT_EQ(hexText(outcome.reply), GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(
    Reads, SingleRequest,
    ::testing::Values(
        FrameCase{"AllFifteen", "01 03 00 00 00 0F 05 CE",
                  "01 03 1E 09 E6 19 78 00 00 00 00 00 00 13 88 FC 17 23 28 03 E8 00 01 00 02 "
                  "00 05 25 80 00 01 00 01 A2 3F",
                  Disposition::Answered},
        FrameCase{"LastRegister", "01 03 00 0E 00 01 E5 C9", "01 03 02 00 01 79 84",
                  Disposition::Answered},
        FrameCase{"PastTheEnd", "01 03 00 0E 00 02 A5 C8", "01 83 02 C0 F1", Disposition::Answered},
        FrameCase{"StartBeyondLast", "01 03 00 0F 00 01 B4 09", "01 83 02 C0 F1",
                  Disposition::Answered},
        FrameCase{"StartNearWordLimit", "01 03 FF FF 00 01 84 2E", "01 83 02 C0 F1",
                  Disposition::Answered},
        FrameCase{"LargeCount", "01 03 00 00 00 7D 85 EB", "01 83 02 C0 F1", Disposition::Answered},
        FrameCase{"CountZero", "01 03 00 00 00 00 45 CA", "01 83 03 01 31", Disposition::Answered},
        FrameCase{"QueryAddressAnsweredFromOwn", "FA 03 00 00 00 01 91 81", "01 03 02 09 E6 3F 9E",
                  Disposition::Answered},
        FrameCase{"QueryAddressOutOfRange", "FA 03 00 0E 00 02 B0 43", "01 83 02 C0 F1",
                  Disposition::Answered},
        FrameCase{"ExtraByteBeforeCrc", "01 03 00 00 00 01 00 0A 63", "", Disposition::Malformed}),
    [](const auto &info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Ignored, SingleRequest,
    ::testing::Values(
        FrameCase{"OtherStation", "02 03 00 00 00 01 84 39", "", Disposition::OtherStation},
        FrameCase{"Broadcast", "00 06 0A 00 00 01 4A 03", "", Disposition::OtherStation},
        FrameCase{"QueryAddressWrite", "FA 06 0A 00 00 01 5E 59", "", Disposition::OtherStation},
        FrameCase{"BadCrc", "01 03 00 00 00 0F 05 CF", "", Disposition::BadCrc},
        FrameCase{"CrcBytesSwapped", "01 03 00 00 00 0F CE 05", "", Disposition::BadCrc},
        FrameCase{"ThreeBytes", "01 83 02", "", Disposition::TooShort},
        FrameCase{"Empty", "", "", Disposition::TooShort}),
    [](const auto &info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Writes, SingleRequest,
    ::testing::Values(
        FrameCase{"FirstWritable", "01 06 0A 00 FF 9C CB 8B", "01 06 0A 00 FF 9C CB 8B",
                  Disposition::Answered},
        FrameCase{"LastWritable", "01 06 0A 16 00 02 EA 17", "01 06 0A 16 00 02 EA 17",
                  Disposition::Answered},
        FrameCase{"OddAddress", "01 06 0A 01 00 01 1A 12", "01 86 02 C3 A1", Disposition::Answered},
        FrameCase{"PastLastWritable", "01 06 0A 18 00 01 CB D5", "01 86 02 C3 A1",
                  Disposition::Answered},
        FrameCase{"BelowFirstWritable", "01 06 09 FE 00 01 2A 66", "01 86 02 C3 A1",
                  Disposition::Answered},
        FrameCase{"ReadingRegister", "01 06 00 00 00 01 48 0A", "01 86 02 C3 A1",
                  Disposition::Answered},
        FrameCase{"IntervalZero", "01 06 0A 10 00 00 8B D7", "01 86 03 02 61",
                  Disposition::Answered},
        FrameCase{"IntervalTooLong", "01 06 0A 10 0E 11 4F BB", "01 86 03 02 61",
                  Disposition::Answered},
        FrameCase{"IntervalLongest", "01 06 0A 10 0E 10 8E 7B", "01 06 0A 10 0E 10 8E 7B",
                  Disposition::Answered},
        FrameCase{"UnknownBaud", "01 06 0A 12 25 81 F0 E7", "01 86 03 02 61",
                  Disposition::Answered},
        FrameCase{"Baud19200", "01 06 0A 12 4B 00 1C E7", "01 06 0A 12 4B 00 1C E7",
                  Disposition::Answered},
        FrameCase{"Baud38400", "01 06 0A 12 96 00 45 B7", "01 86 03 02 61", Disposition::Answered},
        FrameCase{"UnknownCommMode", "01 06 0A 14 00 03 8A 17", "01 86 03 02 61",
                  Disposition::Answered},
        FrameCase{"ControlModeZero", "01 06 0A 16 00 00 6B D6", "01 86 03 02 61",
                  Disposition::Answered},
        FrameCase{"AddressZero", "01 06 0B 00 00 00 8B EE", "01 86 03 02 61",
                  Disposition::Answered},
        FrameCase{"Address251", "01 06 0B 00 00 FB CA 6D", "01 86 03 02 61", Disposition::Answered},
        FrameCase{"Address250", "01 06 0B 00 00 FA 0B AD", "01 06 0B 00 00 FA 0B AD",
                  Disposition::Answered},
        FrameCase{"NextToAddressRegister", "01 06 0B 01 00 05 1A 2D", "01 86 02 C3 A1",
                  Disposition::Answered}),
    [](const auto &info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Functions, SingleRequest,
    ::testing::Values(FrameCase{"DeviceInfo", "01 26 00 00 00 05 C8 0E",
                                "01 26 0B 4B 43 34 34 32 30 50 2D 56 31 32 75 A3",
                                Disposition::Answered},
                      FrameCase{"WriteMultiple", "01 10 00 00 00 01 01 C9", "01 90 01 8D C0",
                                Disposition::Answered},
                      FrameCase{"InputRegisters", "01 04 00 00 00 01 31 CA", "01 84 01 82 C0",
                                Disposition::Answered},
                      FrameCase{"Identification", "01 2B 0E 01 00 70 77", "01 AB 01 9E F0",
                                Disposition::Answered}),
    [](const auto &info) { return std::string(info.param.name); });

std::vector<std::uint8_t> framed(const std::string &body)
{
    std::vector<std::uint8_t> frame = hexBytes(body);
    kcsim::appendCrc(frame);
    return frame;
}

std::uint16_t readOne(ModbusSlave &slave, std::uint8_t station, int index)
{
    const auto outcome = slave.handleFrame(
        framed(hexText({station, 0x03, 0x00, static_cast<std::uint8_t>(index), 0x00, 0x01})));
    EXPECT_EQ(outcome.reply.size(), 7u);
    if (outcome.reply.size() != 7u)
        return 0;
    return static_cast<std::uint16_t>((outcome.reply[3] << 8) | outcome.reply[4]);
}

TEST(ModbusSlave, EveryWritableRegisterReadsBackWhatWasWritten)
{
    // Values valid for each register, several of them negative in the 65535 offset.
    const std::uint16_t values[] = {65435, 120, 3100, 63535, 8500, 500, 3, 4, 60, 19200, 2, 2};
    RegisterStore store;
    ModbusSlave slave(store, 1, "KC4420P-V12");
    for (int k = reg::TemperatureOffset; k < reg::Count; ++k) {
        const std::uint16_t address = static_cast<std::uint16_t>(0x0A00 + 2 * (k - 3));
        const std::uint16_t value = values[k - 3];
        const auto request = framed(hexText({0x01, 0x06, static_cast<std::uint8_t>(address >> 8),
                                             static_cast<std::uint8_t>(address & 0xFF),
                                             static_cast<std::uint8_t>(value >> 8),
                                             static_cast<std::uint8_t>(value & 0xFF)}));
        const auto outcome = slave.handleFrame(request);
        EXPECT_EQ(outcome.reply, request) << "register " << k;
        EXPECT_EQ(outcome.writtenRegister, k);
    }
    for (int k = reg::TemperatureOffset; k < reg::Count; ++k)
        EXPECT_EQ(readOne(slave, 1, k), values[k - 3]) << "register " << k;
}

TEST(ModbusSlave, RejectedWriteLeavesRegisterUnchanged)
{
    RegisterStore store;
    ModbusSlave slave(store, 1, "KC4420P-V12");
    const auto outcome = slave.handleFrame(hexBytes("01 06 0A 10 00 00 8B D7"));
    EXPECT_EQ(outcome.writtenRegister, -1);
    EXPECT_EQ(store.word(reg::UploadInterval), 5);
}

TEST(ModbusSlave, AddressChangeAnswersFromOldAddressThenMoves)
{
    RegisterStore store;
    ModbusSlave slave(store, 1, "KC4420P-V12");
    const auto request = framed("01 06 0B 00 00 2A");
    const auto outcome = slave.handleFrame(request);
    EXPECT_EQ(outcome.reply, request);
    EXPECT_TRUE(outcome.addressChanged);
    EXPECT_EQ(slave.address(), 0x2A);

    EXPECT_EQ(slave.handleFrame(framed("01 03 00 00 00 01")).disposition,
              Disposition::OtherStation);
    const auto read = slave.handleFrame(framed("2A 03 00 00 00 01"));
    ASSERT_EQ(read.disposition, Disposition::Answered);
    EXPECT_EQ(read.reply.front(), 0x2A);
    const auto query = slave.handleFrame(hexBytes("FA 03 00 00 00 01 91 81"));
    ASSERT_FALSE(query.reply.empty());
    EXPECT_EQ(query.reply.front(), 0x2A);
    EXPECT_TRUE(kcsim::hasValidCrc(query.reply));
}

TEST(ModbusSlave, RejectedAddressKeepsTheOldOne)
{
    RegisterStore store;
    ModbusSlave slave(store, 9, "KC4420P-V12");
    const auto outcome = slave.handleFrame(framed("09 06 0B 00 00 00"));
    EXPECT_FALSE(outcome.addressChanged);
    EXPECT_EQ(slave.address(), 9);
    EXPECT_EQ(hexText(outcome.reply).substr(0, 8), "09 86 03");
}

TEST(ModbusSlave, ReadsSeeAlarmFollowingAWrittenLimit)
{
    RegisterStore store;
    ModbusSlave slave(store, 1, "KC4420P-V12");
    EXPECT_EQ(readOne(slave, 1, reg::AlarmState), 0);
    slave.handleFrame(framed("01 06 0A 0A 13 88")); // humidity lower limit 50.00
    EXPECT_EQ(readOne(slave, 1, reg::AlarmState), 0);
    slave.handleFrame(framed("01 06 0A 08 17 70")); // humidity upper limit 60.00
    EXPECT_EQ(readOne(slave, 1, reg::AlarmState), 2);
}

struct ModelCase
{
    const char *given;
    const char *sent;
};

class DeviceInfoText : public ::testing::TestWithParam<ModelCase>
{
};

TEST_P(DeviceInfoText, AlwaysSixteenBytesWithElevenCharacters)
{
    RegisterStore store;
    ModbusSlave slave(store, 3, GetParam().given);
    const auto outcome = slave.handleFrame(framed("03 26 00 00 00 05"));
    ASSERT_EQ(outcome.reply.size(), 16u);
    EXPECT_EQ(outcome.reply[0], 3);
    EXPECT_EQ(outcome.reply[1], 0x26);
    EXPECT_EQ(outcome.reply[2], 0x0B);
    EXPECT_EQ(std::string(outcome.reply.begin() + 3, outcome.reply.begin() + 14), GetParam().sent);
    EXPECT_TRUE(kcsim::hasValidCrc(outcome.reply));
}

INSTANTIATE_TEST_SUITE_P(Models, DeviceInfoText,
                         ::testing::Values(ModelCase{"KC4420P-V12", "KC4420P-V12"},
                                           ModelCase{"KA4420P", "KA4420P    "},
                                           ModelCase{"", "           "},
                                           ModelCase{"KB4420P-V12-EXTRA", "KB4420P-V12"}));

} // namespace
