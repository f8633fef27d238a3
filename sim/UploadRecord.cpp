#include "UploadRecord.h"

#include <algorithm>
#include <cstdio>

namespace kcsim {

namespace {

std::string field(int hundredths)
{
    // Round half away from zero to tenths, in integers to avoid binary fractions.
    int tenths = hundredths >= 0 ? (hundredths + 5) / 10 : -((-hundredths + 5) / 10);
    tenths = std::clamp(tenths, -999, 9999);

    char text[16];
    if (tenths < 0)
        std::snprintf(text, sizeof text, "-%02d.%d", -tenths / 10, -tenths % 10);
    else
        std::snprintf(text, sizeof text, "%03d.%d", tenths / 10, tenths % 10);
    return text;
}

} // namespace

std::string uploadRecord(int temperatureHundredths, int humidityHundredths)
{
    return "[" + field(temperatureHundredths) + "," + field(humidityHundredths) + "]";
}

} // namespace kcsim
