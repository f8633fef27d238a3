#include "RegisterStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

using kcsim::Alarm;
using kcsim::RegisterStore;
namespace reg = kcsim::reg;

TEST(RegisterStore, SignedWordsDecodePerRegister)
{
    // Readings turn negative above 20000, limits and offsets above 32768, and the
    // rest never; negatives are stored as 65535 + value, so 65535 reads as zero.
    struct Case
    {
        int index;
        std::uint16_t word;
        int hundredths;
    };
    const Case cases[] = {{reg::Temperature, 20000, 20000},
                          {reg::Temperature, 20001, -45534},
                          {reg::Humidity, 65534, -1},
                          {reg::Humidity, 65535, 0},
                          {reg::TemperatureOffset, 32769, -32766},
                          {reg::TemperatureUpper, 32768, 32768},
                          {reg::HumidityLower, 65534, -1},
                          {reg::TemperatureHysteresis, 65535, 65535},
                          {reg::UploadInterval, 40000, 40000}};
    for (const Case &c : cases) {
        RegisterStore store;
        store.setWord(c.index, c.word);
        EXPECT_EQ(store.hundredths(c.index), c.hundredths) << c.index << "=" << c.word;
    }
    for (int hundredths = -4000; hundredths <= 10000; hundredths += 7)
        ASSERT_EQ(kcsim::decodeHundredths(kcsim::encodeHundredths(hundredths), 20000), hundredths);
}

TEST(RegisterStore, AlarmFollowsReadingsAndLimits)
{
    // Default limits: temperature -10.00..50.00, humidity 10.00..90.00, both inclusive.
    struct Case
    {
        int temperature;
        int humidity;
        Alarm alarm;
    };
    const Case cases[] = {{5000, 9000, Alarm::Normal},      {-1000, 1000, Alarm::Normal},
                          {5001, 5000, Alarm::Temperature}, {-1001, 5000, Alarm::Temperature},
                          {2500, 9001, Alarm::Humidity},    {2500, 999, Alarm::Humidity},
                          {6000, 9500, Alarm::Temperature}};
    for (const Case &c : cases) {
        RegisterStore store;
        store.setWord(reg::Temperature, kcsim::encodeHundredths(c.temperature));
        store.setWord(reg::Humidity, kcsim::encodeHundredths(c.humidity));
        EXPECT_EQ(store.word(reg::AlarmState), static_cast<std::uint16_t>(c.alarm))
            << c.temperature << " " << c.humidity;
    }
}

TEST(RegisterStore, DriftApproachesTheBandThenStaysInItInSmallSteps)
{
    RegisterStore store;
    store.setWord(reg::Temperature, kcsim::encodeHundredths(-535));
    store.setWord(reg::Humidity, 9500);
    store.setWord(reg::TemperatureUpper, 2534);
    std::mt19937 rng(7);
    int changes = 0;
    for (int second = 0; second < 20000; ++second) {
        const int t = store.temperature();
        const int h = store.humidity();
        store.drift(rng);
        changes += store.temperature() != t;
        ASSERT_LE(std::abs(store.temperature() - t), 3) << second;
        ASSERT_LE(std::abs(store.humidity() - h), 5) << second;
        // Outside the band a reading only moves towards it; once inside, it stays.
        ASSERT_GE(store.temperature(), std::min(t, 2000)) << second;
        ASSERT_LE(store.temperature(), std::max(t, 3000)) << second;
        ASSERT_GE(store.humidity(), std::min(h, 4000)) << second;
        ASSERT_LE(store.humidity(), std::max(h, 8000)) << second;
        const Alarm alarm = store.temperature() > 2534 ? Alarm::Temperature
                            : store.humidity() > 9000  ? Alarm::Humidity
                                                       : Alarm::Normal;
        ASSERT_EQ(store.word(reg::AlarmState), static_cast<std::uint16_t>(alarm)) << second;
    }
    EXPECT_GT(changes, 1000);
    EXPECT_GE(store.temperature(), 2000);
    EXPECT_LE(store.humidity(), 8000);
}

} // namespace
