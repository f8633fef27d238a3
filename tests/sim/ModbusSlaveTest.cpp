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
};

class SingleRequest : public ::testing::TestWithParam<FrameCase>
{
};

TEST_P(SingleRequest, Reply)
{
    RegisterStore store;
    ModbusSlave slave(store, 1, "KC4420P-V12-B"); // cut to the 11 characters sent
    const kcsim::Outcome outcome = slave.handleFrame(hexBytes(GetParam().request));
    EXPECT_EQ(hexText(outcome.reply), GetParam().reply);
    EXPECT_EQ(outcome.disposition == Disposition::Answered, !outcome.reply.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Frames, SingleRequest,
    ::testing::Values(
        FrameCase{"ReadAll", "01 03 00 00 00 0F 05 CE",
                  "01 03 1E 09 E6 19 78 00 00 00 00 00 00 13 88 FC 17 23 28 03 E8 00 01 00 02 "
                  "00 05 25 80 00 01 00 01 A2 3F"},
        FrameCase{"ReadLast", "01 03 00 0E 00 01 E5 C9", "01 03 02 00 01 79 84"},
        FrameCase{"ReadPastTheEnd", "01 03 00 0E 00 02 A5 C8", "01 83 02 C0 F1"},
        FrameCase{"ReadStartNearWordLimit", "01 03 FF FF 00 01 84 2E", "01 83 02 C0 F1"},
        FrameCase{"ReadCountZero", "01 03 00 00 00 00 45 CA", "01 83 03 01 31"},
        FrameCase{"ReadExtraByteBeforeCrc", "01 03 00 00 00 01 00 0A 63", ""},
        FrameCase{"QueryAddressAnsweredFromOwn", "FA 03 00 00 00 01 91 81", "01 03 02 09 E6 3F 9E"},
        FrameCase{"QueryAddressWrite", "FA 06 0A 00 00 01 5E 59", ""},
        FrameCase{"OtherStation", "02 03 00 00 00 01 84 39", ""},
        FrameCase{"Broadcast", "00 06 0A 00 00 01 4A 03", ""},
        FrameCase{"BadCrc", "01 03 00 00 00 0F 05 CF", ""},
        FrameCase{"StationAndCrcOnly", "01 7E 80", ""},
        FrameCase{"WriteFirst", "01 06 0A 00 FF 9C CB 8B", "01 06 0A 00 FF 9C CB 8B"},
        FrameCase{"WriteLast", "01 06 0A 16 00 02 EA 17", "01 06 0A 16 00 02 EA 17"},
        FrameCase{"WriteOddAddress", "01 06 0A 01 00 01 1A 12", "01 86 02 C3 A1"},
        FrameCase{"WritePastLast", "01 06 0A 18 00 01 CB D5", "01 86 02 C3 A1"},
        FrameCase{"WriteBelowFirst", "01 06 09 FE 00 01 2A 66", "01 86 02 C3 A1"},
        FrameCase{"IntervalZero", "01 06 0A 10 00 00 8B D7", "01 86 03 02 61"},
        FrameCase{"IntervalTooLong", "01 06 0A 10 0E 11 4F BB", "01 86 03 02 61"},
        FrameCase{"IntervalLongest", "01 06 0A 10 0E 10 8E 7B", "01 06 0A 10 0E 10 8E 7B"},
        FrameCase{"Baud19200", "01 06 0A 12 4B 00 1C E7", "01 06 0A 12 4B 00 1C E7"},
        FrameCase{"Baud38400", "01 06 0A 12 96 00 45 B7", "01 86 03 02 61"},
        FrameCase{"UnknownCommMode", "01 06 0A 14 00 03 8A 17", "01 86 03 02 61"},
        FrameCase{"ControlModeZero", "01 06 0A 16 00 00 6B D6", "01 86 03 02 61"},
        FrameCase{"AddressZero", "01 06 0B 00 00 00 8B EE", "01 86 03 02 61"},
        FrameCase{"Address251", "01 06 0B 00 00 FB CA 6D", "01 86 03 02 61"},
        FrameCase{"Address250", "01 06 0B 00 00 FA 0B AD", "01 06 0B 00 00 FA 0B AD"},
        FrameCase{"NextToAddressRegister", "01 06 0B 01 00 05 1A 2D", "01 86 02 C3 A1"},
        FrameCase{"DeviceInfo", "01 26 00 00 00 05 C8 0E",
                  "01 26 0B 4B 43 34 34 32 30 50 2D 56 31 32 75 A3"},
        FrameCase{"UnknownFunction", "01 10 00 00 00 01 01 C9", "01 90 01 8D C0"}),
    [](const auto &info) { return std::string(info.param.name); });

std::vector<std::uint8_t> framed(const std::string &body)
{
    std::vector<std::uint8_t> frame = hexBytes(body);
    kcsim::appendCrc(frame);
    return frame;
}

TEST(ModbusSlave, EveryWritableRegisterTakesWhatWasWritten)
{
    // Values valid for each register, several of them negative in the 65535 offset.
    const std::uint16_t values[] = {65435, 120, 3100, 63535, 8500, 500, 3, 4, 60, 19200, 2, 2};
    RegisterStore store;
    ModbusSlave slave(store, 1, "KC4420P-V12");
    for (int k = reg::TemperatureOffset; k < reg::Count; ++k) {
        const int address = 0x0A00 + 2 * (k - reg::TemperatureOffset);
        const std::uint16_t value = values[k - reg::TemperatureOffset];
        const auto request =
            framed(hexText({1, 6, std::uint8_t(address >> 8), std::uint8_t(address),
                            std::uint8_t(value >> 8), std::uint8_t(value)}));
        const auto outcome = slave.handleFrame(request);
        EXPECT_EQ(outcome.reply, request) << "register " << k;
        EXPECT_EQ(outcome.writtenRegister, k);
    }
    for (int k = reg::TemperatureOffset; k < reg::Count; ++k)
        EXPECT_EQ(store.word(k), values[k - reg::TemperatureOffset]) << "register " << k;
}

TEST(ModbusSlave, RejectedWritesChangeNothing)
{
    RegisterStore store;
    ModbusSlave slave(store, 1, "KC4420P-V12");
    EXPECT_EQ(slave.handleFrame(framed("01 06 0A 10 00 00")).writtenRegister, -1);
    EXPECT_EQ(store.word(reg::UploadInterval), 5);
    slave.handleFrame(framed("01 06 0B 00 00 00"));
    EXPECT_EQ(slave.address(), 1);
}

TEST(ModbusSlave, AddressChangeAnswersFromOldAddressThenMoves)
{
    RegisterStore store;
    ModbusSlave slave(store, 1, "KC4420P-V12");
    const auto request = framed("01 06 0B 00 00 2A");
    EXPECT_EQ(slave.handleFrame(request).reply, request);
    EXPECT_TRUE(slave.handleFrame(framed("01 03 00 00 00 01")).reply.empty());
    EXPECT_EQ(hexText(slave.handleFrame(framed("2A 03 00 00 00 01")).reply),
              "2A 03 02 09 E6 1B 98");
    EXPECT_EQ(hexText(slave.handleFrame(hexBytes("FA 03 00 00 00 01 91 81")).reply),
              "2A 03 02 09 E6 1B 98");
}

TEST(ModbusSlave, AlarmFollowsAWrittenLimit)
{
    RegisterStore store;
    ModbusSlave slave(store, 1, "KC4420P-V12");
    slave.handleFrame(framed("01 06 0A 0A 13 88")); // humidity lower limit 50.00
    EXPECT_EQ(store.word(reg::AlarmState), 0);
    slave.handleFrame(framed("01 06 0A 08 17 70")); // humidity upper limit 60.00
    EXPECT_EQ(store.word(reg::AlarmState), 2);
}

} // namespace
