#include "RegisterStore.h"

namespace kcsim {

namespace {

constexpr std::array<std::uint16_t, reg::Count> defaultWords = {
    2534, 6520, 0, 0, 0, 5000, 64535, 9000, 1000, 1, 2, 5, 9600, 1, 1,
};

// A random step that keeps the value inside [low, high]; a value already outside
// the band only ever moves towards it, so a test's --set reading does not jump.
int boundedStep(int value, int low, int high, int maxStep, std::mt19937 &rng)
{
    std::uniform_int_distribution<int> stepDist(-maxStep, maxStep);
    int step = stepDist(rng);
    if ((value + step > high && step > 0) || (value + step < low && step < 0))
        step = -step;
    return value + step;
}

// Negative hundredths are stored as 65535 + value.
std::uint16_t encodeHundredths(int hundredths)
{
    if (hundredths >= 0)
        return static_cast<std::uint16_t>(hundredths);
    return static_cast<std::uint16_t>(65535 + hundredths);
}

int decodeHundredths(std::uint16_t word, std::uint16_t negativeAbove)
{
    if (negativeAbove == 0 || word <= negativeAbove)
        return word;
    return static_cast<int>(word) - 65535;
}

// Above this a register's word is negative; 0 for registers that never are.
std::uint16_t negativeThreshold(int index)
{
    if (index == reg::Temperature || index == reg::Humidity)
        return 20000;
    if (index >= reg::TemperatureOffset && index <= reg::HumidityLower)
        return 32768;
    return 0;
}

} // namespace

RegisterStore::RegisterStore() : m_words(defaultWords)
{
    updateAlarm();
}

void RegisterStore::setWord(int index, std::uint16_t value)
{
    m_words.at(static_cast<std::size_t>(index)) = value;
    updateAlarm();
}

std::string RegisterStore::rejectReason(int index, std::uint16_t value)
{
    switch (index) {
    case reg::AlarmState:
        return "the alarm state follows the readings and limits";
    case reg::UploadInterval:
        return (value >= 1 && value <= 3600) ? std::string() : "upload interval must be 1..3600";
    case reg::BaudRate:
        return (value == 2400 || value == 4800 || value == 9600 || value == 19200)
                   ? std::string()
                   : "baud rate must be 2400, 4800, 9600 or 19200";
    case reg::CommMode:
    case reg::ControlMode:
        return (value == 1 || value == 2) ? std::string() : "mode must be 1 or 2";
    default:
        if (index < 0 || index >= reg::Count)
            return "no such register";
        return std::string();
    }
}

int RegisterStore::hundredths(int index) const
{
    return decodeHundredths(word(index), negativeThreshold(index));
}

void RegisterStore::updateAlarm()
{
    const int t = temperature();
    const int h = humidity();
    Alarm alarm = Alarm::Normal;
    if (t > hundredths(reg::TemperatureUpper) || t < hundredths(reg::TemperatureLower))
        alarm = Alarm::Temperature;
    else if (h > hundredths(reg::HumidityUpper) || h < hundredths(reg::HumidityLower))
        alarm = Alarm::Humidity;
    m_words[reg::AlarmState] = static_cast<std::uint16_t>(alarm);
}

void RegisterStore::drift(std::mt19937 &rng)
{
    const int t = boundedStep(temperature(), 2000, 3000, 3, rng);
    const int h = boundedStep(humidity(), 4000, 8000, 5, rng);
    m_words[reg::Temperature] = encodeHundredths(t);
    m_words[reg::Humidity] = encodeHundredths(h);
    updateAlarm();
}

} // namespace kcsim
