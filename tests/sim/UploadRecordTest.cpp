#include "UploadRecord.h"

#include <gtest/gtest.h>

namespace {

TEST(UploadRecord, RoundsToTenthsAndClampsToTheFieldWidth)
{
    struct Case
    {
        int temperature;
        int humidity;
        const char *record;
    };
    const Case cases[] = {{2534, 6520, "[025.3,065.2]"},
                          {-530, 2535, "[-05.3,025.4]"},
                          {-535, 9999, "[-05.4,100.0]"},
                          {-4, -5, "[000.0,-00.1]"},
                          {-45534, 100000, "[-99.9,999.9]"}};
    for (const Case &c : cases) {
        const std::string record = kcsim::uploadRecord(c.temperature, c.humidity);
        EXPECT_EQ(record, c.record);
        EXPECT_EQ(record.size(), static_cast<std::size_t>(kcsim::UploadRecordLength));
    }
}

} // namespace
