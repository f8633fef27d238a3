#pragma once

#include "operations/Outcomes.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace kc {

// A module's own alarm limits, registers 5 to 8, in hundredths.
struct AlarmLimits
{
    int temperatureHigh = 0;
    int temperatureLow = 0;
    int humidityHigh = 0;
    int humidityLow = 0;
    bool operator==(const AlarmLimits &o) const
    {
        return temperatureHigh == o.temperatureHigh && temperatureLow == o.temperatureLow &&
               humidityHigh == o.humidityHigh && humidityLow == o.humidityLow;
    }
};

// What a register read tells about a module's climate, in hundredths of a
// degree and of %RH.
struct Reading
{
    int temperature = 0;
    int humidity = 0;
    std::optional<int> alarmCode;      // register 2, when the read covered it
    std::optional<AlarmLimits> limits; // registers 5 to 8, when the read covered them
};

// The reading in an answered register read; nothing unless registers 0 and 1
// are both in it.
std::optional<Reading> readingOf(const Outcome &outcome);

// The alarm register in words: "正常", "温度报警", "湿度报警"; empty when unknown.
QString alarmText(std::optional<int> code);

// Temperature or humidity outside the module's own limits (the limits
// themselves still inside). False while the limits are unknown.
bool outsideLimits(const Reading &reading, const std::optional<AlarmLimits> &limits);

} // namespace kc
