#include "operations/ModuleReading.h"

#include "operations/RegisterMap.h"
#include "protocol/FrameCodec.h"

#include <array>

namespace kc {

std::optional<Reading> readingOf(const QByteArray &reply, int startRegister)
{
    if (reply.size() < 5 || !crcHolds(reply, 5 + std::uint8_t(reply[2])))
        return std::nullopt;
    std::array<std::optional<int>, registerCount> values;
    const int n = std::uint8_t(reply[2]) / 2;
    for (int k = 0; k < n && 4 + 2 * k < reply.size(); ++k) {
        const int index = startRegister + k;
        if (index < 0 || index >= registerCount)
            continue;
        const auto word =
            std::uint16_t(std::uint8_t(reply[3 + 2 * k]) << 8 | std::uint8_t(reply[4 + 2 * k]));
        values[std::size_t(index)] = wordValue(index, word);
    }
    if (!values[0] || !values[1])
        return std::nullopt;
    Reading r{*values[0], *values[1], values[2], std::nullopt};
    if (values[5] && values[6] && values[7] && values[8])
        r.limits = AlarmLimits{*values[5], *values[6], *values[7], *values[8]};
    return r;
}

QString hundredthsText(int hundredths)
{
    return valueText(0, hundredths);
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
