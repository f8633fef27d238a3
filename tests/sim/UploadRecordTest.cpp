#include "UploadRecord.h"

#include <gtest/gtest.h>

namespace {

struct RecordCase
{
    const char *name;
    int temperature;
    int humidity;
    const char *record;
};

class UploadRecordText : public ::testing::TestWithParam<RecordCase>
{
};

TEST_P(UploadRecordText, Format)
{
    const std::string record = kcsim::uploadRecord(GetParam().temperature, GetParam().humidity);
    EXPECT_EQ(record, GetParam().record);
    EXPECT_EQ(record.size(), static_cast<std::size_t>(kcsim::UploadRecordLength));
}

INSTANTIATE_TEST_SUITE_P(
    Readings, UploadRecordText,
    ::testing::Values(RecordCase{"Typical", 2534, 6520, "[025.3,065.2]"},
                      RecordCase{"Zero", 0, 0, "[000.0,000.0]"},
                      RecordCase{"SmallNegative", -530, 6520, "[-05.3,065.2]"},
                      RecordCase{"TwoDigitNegative", -1530, 4000, "[-15.3,040.0]"},
                      RecordCase{"RoundsUp", 2535, 6549, "[025.4,065.5]"},
                      RecordCase{"RoundsNegativeAwayFromZero", -535, 100, "[-05.4,001.0]"},
                      RecordCase{"TinyNegativeIsZero", -4, 4, "[000.0,000.0]"},
                      RecordCase{"TinyNegativeRoundsToTenth", -5, 5, "[-00.1,000.1]"},
                      RecordCase{"RoundingCarriesIntoHundreds", 9999, 9995, "[100.0,100.0]"},
                      RecordCase{"NegativeHumidity", 2000, -250, "[020.0,-02.5]"},
                      RecordCase{"LowestShown", -9990, 0, "[-99.9,000.0]"},
                      RecordCase{"BelowLowestIsClamped", -45534, 0, "[-99.9,000.0]"},
                      RecordCase{"HighestShown", 20000, 99994, "[200.0,999.9]"},
                      RecordCase{"AboveHighestIsClamped", 65535, 100000, "[655.4,999.9]"}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
