#include "operations/RegisterMap.h"

#include <gtest/gtest.h>

using namespace kc;

// Words a shown value's write-back (below) does not reach: other spellings,
// halves, the ends of the offset range; and every refusal, with its message.
TEST(RegisterMap, WriteConversionTable)
{
    const auto written = [](int k, const QString &text) {
        const auto got = encodeWrite(k, text);
        const auto *word = std::get_if<std::uint16_t>(&got);
        return word ? QString::number(*word) : std::get<UserMessage>(got).text;
    };
    const QString huge = QStringLiteral("99999999999999999999999999999999999999999999");
    const std::tuple<int, QString, QString> cases[] = {
        {3, "-1", "65435"},
        {3, "10.01", msg::calibrationRange},
        {3, "-10.01", msg::calibrationRange},
        {4, "10.5", msg::calibrationRange},
        {5, "655.35", "65535"},
        {5, "655.36", "你输入的值有误，正确的值范围为-655.35到655.35!"},
        {5, "-655.35", "0"},
        {5, "-655.36", msg::hundredthsWordRange},
        {9, "1.5", "2"},
        {9, "2.5", "2"},
        {9, "-1", "65534"},
        {11, "65535", "65535"},
        {11, "70000", "你输入的值有误，正确的值范围为-65535到65535!"},
        {11, "-65535", "0"},
        {11, "-70000", msg::integerWordRange},
        {12, "9600.0", "9600"},
        {12, "1200", msg::baudRange},
        {12, "38401", msg::baudRange},
        {12, "9600.5", msg::baudRange},
        {12, "99999999999999999999999", msg::baudRange},
        {5, "", msg::valueNotNumber},
        {3, huge, msg::calibrationRange},
        {11, huge, msg::integerWordRange},
    };
    for (const auto &[k, text, expected] : cases)
        EXPECT_EQ(written(k, text), expected) << k << " " << text.toStdString();
}

// What a read shows, written back unchanged, gives the word that was read:
// the 65535 offset and the float scaling must agree in both directions.
TEST(RegisterMap, ShownWordsWriteBackUnchanged)
{
    for (int k = 3; k < registerCount; ++k) {
        int checked = 0;
        for (int word = 0; word < 65535; ++word) {
            const QString shown = decodeWord(k, std::uint16_t(word));
            const auto back = encodeWrite(k, shown);
            if (std::holds_alternative<UserMessage>(back))
                continue; // the row's write rule refuses it (rows 3, 4 and 12)
            ASSERT_EQ(std::get<std::uint16_t>(back), word)
                << "row " << k << " shown " << shown.toStdString();
            ++checked;
        }
        EXPECT_GT(checked, k == 12 ? 4 : 2000) << k;
    }
    // 65535 shows as zero everywhere and is written back as zero.
    EXPECT_EQ(std::get<std::uint16_t>(encodeWrite(5, decodeWord(5, 65535))), 0);
}

TEST(RegisterMap, DisplayRuleByRow)
{
    const std::tuple<int, int, const char *> cases[] = {
        {0, 2534, "25.34"},    {0, 5, "0.05"},       {0, 20000, "200.00"}, {0, 20001, "-455.34"},
        {1, 65336, "-1.99"},   {0, 65535, "0.00"},   {2, 65535, "0"},      {2, 2, "2"},
        {3, 65435, "-1.00"},   {3, 65534, "-0.01"},  {3, 32768, "327.68"}, {3, 32769, "-327.66"},
        {5, 40000, "-255.35"}, {8, 65535, "0.00"},   {9, 65535, "0"},      {9, 40000, "40000"},
        {12, 9600, "9600"},    {12, 40000, "40000"}, {14, 0, "0"},
    };
    for (const auto &[k, word, text] : cases)
        EXPECT_EQ(decodeWord(k, std::uint16_t(word)), QString::fromLatin1(text))
            << k << " " << word;
}
