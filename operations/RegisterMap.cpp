#include "operations/RegisterMap.h"

#include "operations/NumberText.h"

#include <cmath>

namespace kc {

const std::array<RegisterInfo, registerCount> &registerMap()
{
    using K = ValueKind;
    static const std::array<RegisterInfo, registerCount> map{{
        {0, "0 温度值", K::Hundredths, false, "℃"},
        {1, "1 湿度值", K::Hundredths, false, "%Rh"},
        {2, "2 报警状态", K::PlainInteger, false, "值 1-温度报警 2-湿度报警 0-正常"},
        {3, "3 温度误差校准", K::Hundredths, true, "值范围为：-10.00到10.00"},
        {4, "4 湿度误差校准", K::Hundredths, true, "值范围为：-10.00到10.00"},
        {5, "5 温度报警上限", K::Hundredths, true, ""},
        {6, "6 温度报警下限", K::Hundredths, true, ""},
        {7, "7 湿度报警上限", K::Hundredths, true, ""},
        {8, "8 湿度报警下限", K::Hundredths, true, ""},
        // Rows 9 and 10 are whole numbers on the wire despite their legend.
        {9, "9 温度控制回差", K::PlainInteger, true, "值范围为：-10.00到10.00"},
        {10, "10湿度控制回差", K::PlainInteger, true, "值范围为：-10.00到10.00"},
        {11, "11主动上传时间", K::PlainInteger, true, "单位：秒 范围1-3600"},
        {12, "12波特率", K::PlainInteger, true, "值:2400,4800,9600,19200"},
        {13, "13通讯方式", K::PlainInteger, true, "1:MODBUS 2:HTTPD"},
        {14, "14控制模式", K::PlainInteger, true, "1:降温除湿 2:加温加湿"},
    }};
    return map;
}

std::uint16_t writeAddress(int k)
{
    return std::uint16_t(0x0A00 + 2 * (k - firstWritable));
}

std::variant<std::uint16_t, UserMessage> encodeWrite(int k, const QString &text)
{
    const auto value = numericValue(text);
    if (!value)
        return UserMessage{msg::valueNotNumber};
    // The module's own firmware scales in single precision; doing the same
    // keeps every word identical to what it expects.
    float v = float(*value);
    if ((k == 3 || k == 4) && !(v >= -10.0f && v <= 10.0f))
        return UserMessage{msg::calibrationRange};
    // 38400 is accepted although the row's legend stops at 19200.
    if (k == 12 && v != 2400.0f && v != 4800.0f && v != 9600.0f && v != 19200.0f && v != 38400.0f)
        return UserMessage{msg::baudRange};

    const bool hundredths = registerMap()[k].kind == ValueKind::Hundredths;
    if (hundredths)
        v = v * 100.0f;
    // Negatives are stored with an offset of 65535, so they read back unchanged.
    if (v < 0)
        v = v + 65535.0f;
    const double word = roundHalfEven(double(v));
    if (!(word >= 0 && word <= 65535))
        return UserMessage{hundredths ? msg::hundredthsWordRange : msg::integerWordRange};
    return std::uint16_t(word);
}

} // namespace kc
