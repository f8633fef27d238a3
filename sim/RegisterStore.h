#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <string>

namespace kcsim {

namespace reg {
constexpr int Temperature = 0;
constexpr int Humidity = 1;
constexpr int AlarmState = 2;
constexpr int TemperatureOffset = 3;
constexpr int HumidityOffset = 4;
constexpr int TemperatureUpper = 5;
constexpr int TemperatureLower = 6;
constexpr int HumidityUpper = 7;
constexpr int HumidityLower = 8;
constexpr int TemperatureHysteresis = 9;
constexpr int HumidityHysteresis = 10;
constexpr int UploadInterval = 11;
constexpr int BaudRate = 12;
constexpr int CommMode = 13;
constexpr int ControlMode = 14;
constexpr int Count = 15;
} // namespace reg

enum class Alarm : std::uint16_t { Normal = 0, Temperature = 1, Humidity = 2 };

class RegisterStore
{
public:
    RegisterStore();

    std::uint16_t word(int index) const { return m_words.at(static_cast<std::size_t>(index)); }

    // Stores the word as is; callers check rejectReason() first where the value matters.
    void setWord(int index, std::uint16_t value);

    // Empty when the module would take the word, otherwise why not.
    static std::string rejectReason(int index, std::uint16_t value);

    // Signed registers hold negative hundredths as 65535 + value (not 65536), so
    // 65535 itself reads back as zero.
    int hundredths(int index) const;
    int temperature() const { return hundredths(reg::Temperature); }
    int humidity() const { return hundredths(reg::Humidity); }

    // One second of slow sensor drift, bounded to a plausible indoor band.
    void drift(std::mt19937 &rng);

private:
    // Alarm state is never stored directly: it follows the readings and limits.
    void updateAlarm();

    std::array<std::uint16_t, reg::Count> m_words;
};

} // namespace kcsim
