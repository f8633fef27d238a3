#include "operations/ModuleReading.h"

#include "operations/RegisterMap.h"
#include "operations/Replies.h"

#include <array>

namespace kc {

std::optional<Reading> readingOf(const Outcome &outcome)
{
    std::array<std::optional<int>, registerCount> values;
    for (const RegisterValue &v : registerValues(outcome))
        values[std::size_t(v.row)] = v.value;
    if (!values[temperatureRow] || !values[humidityRow])
        return std::nullopt;
    Reading r{*values[temperatureRow], *values[humidityRow], values[alarmRow], std::nullopt};
    if (values[5] && values[6] && values[7] && values[8])
        r.limits = AlarmLimits{*values[5], *values[6], *values[7], *values[8]};
    return r;
}

QString alarmText(std::optional<int> code)
{
    if (!code)
        return {};
    switch (*code) {
    case 0:
        return QStringLiteral("正常");
    case 1:
        return QStringLiteral("温度报警");
    case 2:
        return QStringLiteral("湿度报警");
    default:
        return QStringLiteral("报警码 %1").arg(*code);
    }
}

bool outsideLimits(const Reading &r, const std::optional<AlarmLimits> &limits)
{
    if (!limits)
        return false;
    return r.temperature > limits->temperatureHigh || r.temperature < limits->temperatureLow ||
           r.humidity > limits->humidityHigh || r.humidity < limits->humidityLow;
}

} // namespace kc
