#include "operations/RegisterMap.h"

#include "operations/NumberText.h"

namespace kc {

namespace {

// "#0.00" of hundredths, done in integers so no value picks up a binary
// rounding error on its way to the box.
QString hundredthsText(int hundredths)
{
    const bool negative = hundredths < 0;
    const int magnitude = negative ? -hundredths : hundredths;
    QString text = QString::number(magnitude / 100) + QLatin1Char('.') +
                   QStringLiteral("%1").arg(magnitude % 100, 2, 10, QLatin1Char('0'));
    return negative ? QLatin1Char('-') + text : text;
}

bool passesCheck(WriteCheck check, float v)
{
    switch (check) {
    case WriteCheck::Calibration:
        return v >= -10.0f && v <= 10.0f;
    case WriteCheck::BaudList:
        // Converted only once known to fit an int.
        return v > 0.0f && v <= 1e6f && float(int(v)) == v && moduleBauds().contains(int(v));
    case WriteCheck::None:
        break;
    }
    return true;
}

const QString &checkMessage(WriteCheck check)
{
    return check == WriteCheck::Calibration ? msg::calibrationRange : msg::baudRange;
}

} // namespace

const QList<int> &moduleBauds()
{
    // 38400 is taken although row 12's legend stops at 19200.
    static const QList<int> bauds{2400, 4800, 9600, 19200, 38400};
    return bauds;
}

const std::array<RegisterRow, registerCount> &registerMap()
{
    constexpr auto H = Scale::Hundredths;
    constexpr auto W = Scale::Whole;
    constexpr auto none = WriteCheck::None;
    static const std::array<RegisterRow, registerCount> map{{
        // Readings may go below zero but never near 200.00 above it.
        {0, "0 温度值", "℃", false, H, 20000, none},
        {1, "1 湿度值", "%Rh", false, H, 20000, none},
        {2, "2 报警状态", "值 1-温度报警 2-湿度报警 0-正常", false, W, 0, none},
        {3, "3 温度误差校准", "值范围为：-10.00到10.00", true, H, 32768, WriteCheck::Calibration},
        {4, "4 湿度误差校准", "值范围为：-10.00到10.00", true, H, 32768, WriteCheck::Calibration},
        {5, "5 温度报警上限", "", true, H, 32768, none},
        {6, "6 温度报警下限", "", true, H, 32768, none},
        {7, "7 湿度报警上限", "", true, H, 32768, none},
        {8, "8 湿度报警下限", "", true, H, 32768, none},
        // Rows 9 and 10 are whole numbers on the wire despite their legend.
        {9, "9 温度控制回差", "值范围为：-10.00到10.00", true, W, 0, none},
        {10, "10湿度控制回差", "值范围为：-10.00到10.00", true, W, 0, none},
        {11, "11主动上传时间", "单位：秒 范围1-3600", true, W, 0, none},
        {12, "12波特率", "值:2400,4800,9600,19200", true, W, 0, WriteCheck::BaudList},
        {13, "13通讯方式", "1:MODBUS 2:HTTPD", true, W, 0, none},
        {14, "14控制模式", "1:降温除湿 2:加温加湿", true, W, 0, none},
    }};
    return map;
}

std::uint16_t writeAddress(int k)
{
    return std::uint16_t(0x0A00 + 2 * (k - firstWritable));
}

int wordValue(int k, std::uint16_t word)
{
    const RegisterRow &row = registerMap()[k];
    int raw = word == 0xFFFF ? 0 : word;
    // The module stores negatives with an offset of 65535, so written values
    // read back unchanged; the thresholds are strict.
    if (row.negativeAbove > 0 && raw > row.negativeAbove)
        raw -= 65535;
    return raw;
}

QString valueText(int k, int value)
{
    return registerMap()[k].scale == Scale::Hundredths ? hundredthsText(value)
                                                       : QString::number(value);
}

double realValue(int k, int value)
{
    return registerMap()[k].scale == Scale::Hundredths ? value / 100.0 : value;
}

QString decodeWord(int k, std::uint16_t word)
{
    return valueText(k, wordValue(k, word));
}

std::variant<std::uint16_t, UserMessage> encodeWrite(int k, const QString &text)
{
    const RegisterRow &row = registerMap()[k];
    const auto value = numericValue(text);
    if (!value)
        return UserMessage{msg::valueNotNumber};
    // The module's own firmware scales in single precision; doing the same
    // keeps every word identical to what it expects.
    float v = float(*value);
    if (!passesCheck(row.check, v))
        return UserMessage{checkMessage(row.check)};
    const bool hundredths = row.scale == Scale::Hundredths;
    if (hundredths)
        v = v * 100.0f;
    if (v < 0)
        v = v + 65535.0f;
    const double word = roundHalfEven(double(v));
    if (!(word >= 0 && word <= 65535))
        return UserMessage{hundredths ? msg::hundredthsWordRange : msg::integerWordRange};
    return std::uint16_t(word);
}

} // namespace kc
