#include "RegisterStore.h"

#include <gtest/gtest.h>

namespace {

using kcsim::RegisterStore;
namespace reg = kcsim::reg;

struct WordCase
{
    std::uint16_t word;
    std::uint16_t threshold;
    int hundredths;
};

class SignedWords : public ::testing::TestWithParam<WordCase>
{
};

TEST_P(SignedWords, Decode)
{
    EXPECT_EQ(kcsim::decodeHundredths(GetParam().word, GetParam().threshold),
              GetParam().hundredths);
}

INSTANTIATE_TEST_SUITE_P(Readings, SignedWords,
                         ::testing::Values(WordCase{0, 20000, 0}, WordCase{2534, 20000, 2534},
                                           WordCase{20000, 20000, 20000},
                                           WordCase{20001, 20000, -45534},
                                           WordCase{64535, 20000, -1000},
                                           WordCase{65534, 20000, -1}, WordCase{65535, 20000, 0},
                                           WordCase{32768, 32768, 32768},
                                           WordCase{32769, 32768, -32766},
                                           WordCase{64535, 32768, -1000}, WordCase{65535, 32768, 0},
                                           WordCase{65535, 0, 65535}, WordCase{40000, 0, 40000}));

TEST(SignedWords, EncodeUsesOffset65535)
{
    EXPECT_EQ(kcsim::encodeHundredths(0), 0);
    EXPECT_EQ(kcsim::encodeHundredths(2534), 2534);
    EXPECT_EQ(kcsim::encodeHundredths(-1), 65534);
    EXPECT_EQ(kcsim::encodeHundredths(-1000), 64535);
}

TEST(SignedWords, NegativeReadingsSurviveARoundTrip)
{
    for (int hundredths = -4000; hundredths <= 10000; hundredths += 7)
        ASSERT_EQ(kcsim::decodeHundredths(kcsim::encodeHundredths(hundredths), 20000), hundredths);
}

TEST(SignedWords, ThresholdPerRegister)
{
    EXPECT_EQ(kcsim::negativeThreshold(reg::Temperature), 20000);
    EXPECT_EQ(kcsim::negativeThreshold(reg::Humidity), 20000);
    for (int index = reg::TemperatureOffset; index <= reg::HumidityLower; ++index)
        EXPECT_EQ(kcsim::negativeThreshold(index), 32768) << index;
    for (int index : {reg::AlarmState, reg::TemperatureHysteresis, reg::UploadInterval,
                      reg::BaudRate, reg::ControlMode})
        EXPECT_EQ(kcsim::negativeThreshold(index), 0) << index;
}

TEST(RegisterStore, DefaultsArePlausibleAndNotInAlarm)
{
    RegisterStore store;
    EXPECT_EQ(store.temperature(), 2534);
    EXPECT_EQ(store.humidity(), 6520);
    EXPECT_EQ(store.hundredths(reg::TemperatureLower), -1000);
    EXPECT_EQ(store.word(reg::BaudRate), 9600);
    EXPECT_EQ(store.word(reg::AlarmState), 0);
    for (int index = 0; index < reg::Count; ++index)
        EXPECT_EQ(RegisterStore::rejectReason(index, store.word(index)).empty(),
                  index != reg::AlarmState)
            << index;
}

struct AlarmCase
{
    const char *name;
    int temperature;
    int humidity;
    kcsim::Alarm expected;
};

class AlarmState : public ::testing::TestWithParam<AlarmCase>
{
};

// Limits stay at the defaults: temperature -10.00..50.00, humidity 10.00..90.00.
TEST_P(AlarmState, FollowsLimits)
{
    RegisterStore store;
    store.setWord(reg::Temperature, kcsim::encodeHundredths(GetParam().temperature));
    store.setWord(reg::Humidity, kcsim::encodeHundredths(GetParam().humidity));
    EXPECT_EQ(store.word(reg::AlarmState), static_cast<std::uint16_t>(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Limits, AlarmState,
    ::testing::Values(
        AlarmCase{"Inside", 2500, 5000, kcsim::Alarm::Normal},
        AlarmCase{"AtUpperLimits", 5000, 9000, kcsim::Alarm::Normal},
        AlarmCase{"AtLowerLimits", -1000, 1000, kcsim::Alarm::Normal},
        AlarmCase{"TemperatureAbove", 5001, 5000, kcsim::Alarm::Temperature},
        AlarmCase{"TemperatureBelowNegativeLimit", -1001, 5000, kcsim::Alarm::Temperature},
        AlarmCase{"HumidityAbove", 2500, 9001, kcsim::Alarm::Humidity},
        AlarmCase{"HumidityBelow", 2500, 999, kcsim::Alarm::Humidity},
        AlarmCase{"BothOutsideReportsTemperature", 6000, 9500, kcsim::Alarm::Temperature}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(RegisterStore, LoweringALimitRaisesTheAlarm)
{
    RegisterStore store;
    store.setWord(reg::TemperatureUpper, 2000);
    EXPECT_EQ(store.word(reg::AlarmState), 1);
    store.setWord(reg::TemperatureUpper, 5000);
    store.setWord(reg::HumidityUpper, 6000);
    EXPECT_EQ(store.word(reg::AlarmState), 2);
}

struct RejectCase
{
    int index;
    std::uint16_t word;
    bool accepted;
};

class WordValidity : public ::testing::TestWithParam<RejectCase>
{
};

TEST_P(WordValidity, RejectReason)
{
    EXPECT_EQ(RegisterStore::rejectReason(GetParam().index, GetParam().word).empty(),
              GetParam().accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Registers, WordValidity,
    ::testing::Values(
        RejectCase{reg::AlarmState, 0, false}, RejectCase{reg::Temperature, 65000, true},
        RejectCase{reg::TemperatureOffset, 65535, true}, RejectCase{reg::UploadInterval, 0, false},
        RejectCase{reg::UploadInterval, 1, true}, RejectCase{reg::UploadInterval, 3600, true},
        RejectCase{reg::UploadInterval, 3601, false}, RejectCase{reg::BaudRate, 2400, true},
        RejectCase{reg::BaudRate, 19200, true}, RejectCase{reg::BaudRate, 38400, false},
        RejectCase{reg::BaudRate, 9601, false}, RejectCase{reg::CommMode, 0, false},
        RejectCase{reg::CommMode, 2, true}, RejectCase{reg::ControlMode, 3, false},
        RejectCase{reg::Count, 1, false}, RejectCase{-1, 1, false}));

TEST(Drift, StaysInsideTheBandAndMoves)
{
    RegisterStore store;
    std::mt19937 rng(7);
    int changes = 0;
    for (int second = 0; second < 20000; ++second) {
        const int before = store.temperature();
        store.drift(rng);
        if (store.temperature() != before)
            ++changes;
        ASSERT_GE(store.temperature(), 2000);
        ASSERT_LE(store.temperature(), 3000);
        ASSERT_GE(store.humidity(), 4000);
        ASSERT_LE(store.humidity(), 8000);
        ASSERT_LE(std::abs(store.temperature() - before), 3);
    }
    EXPECT_GT(changes, 1000);
}

TEST(Drift, ReadingOutsideTheBandOnlyMovesTowardsIt)
{
    RegisterStore store;
    store.setWord(reg::Temperature, kcsim::encodeHundredths(-535));
    store.setWord(reg::Humidity, 9500);
    std::mt19937 rng(3);
    for (int second = 0; second < 200; ++second) {
        const int temperature = store.temperature();
        const int humidity = store.humidity();
        store.drift(rng);
        ASSERT_GE(store.temperature(), temperature);
        ASSERT_LE(store.humidity(), humidity);
    }
    EXPECT_GT(store.temperature(), -535);
}

TEST(Drift, AlarmFollowsDriftingReading)
{
    RegisterStore store;
    store.setWord(reg::TemperatureUpper, 2534);
    std::mt19937 rng(11);
    for (int second = 0; second < 500; ++second) {
        store.drift(rng);
        const bool above = store.temperature() > 2534;
        ASSERT_EQ(store.word(reg::AlarmState), above ? 1 : 0);
    }
}

} // namespace
