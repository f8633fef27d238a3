#include "operations/RegisterMap.h"

#include <gtest/gtest.h>

using namespace kc;

namespace {
struct WriteCase
{
    int k;
    const char *text;
    int word;             // -1: refused
    QString refusal = {}; // expected message when refused
};
} // namespace

// Words a shown value's write-back (below) does not reach: other spellings,
// halves, the ends of the offset range, and every refusal.
TEST(RegisterMap, WriteConversionTable)
{
    const WriteCase cases[] = {
        {3, "-1", 65435},
        {3, "10.01", -1, msg::calibrationRange},
        {3, "-10.01", -1, msg::calibrationRange},
        {4, "10.5", -1, msg::calibrationRange},
        {5, "655.35", 65535},
        {5, "655.36", -1, "你输入的值有误，正确的值范围为-655.35到655.35!"},
        {5, "-655.35", 0},
        {5, "-655.36", -1, msg::hundredthsWordRange},
        {9, "1.5", 2},
        {9, "2.5", 2},
        {9, "-1", 65534},
        {11, "65535", 65535},
        {11, "70000", -1, "你输入的值有误，正确的值范围为-65535到65535!"},
        {11, "-65535", 0},
        {11, "-70000", -1, msg::integerWordRange},
        {12, "9600.0", 9600},
        {12, "1200", -1, msg::baudRange},
        {12, "38401", -1, msg::baudRange},
        {12, "9600.5", -1, msg::baudRange},
        {12, "99999999999999999999999", -1, msg::baudRange},
        {5, "", -1, msg::valueNotNumber},
        {5, "abc", -1, msg::valueNotNumber},
        {14, "1e3", -1, msg::valueNotNumber},
        {3, "99999999999999999999999999999999999999999999", -1, msg::calibrationRange},
        {11, "99999999999999999999999999999999999999999999", -1, msg::integerWordRange},
    };
    for (const auto &c : cases) {
        const auto got = encodeWrite(c.k, QString::fromLatin1(c.text));
        if (c.word >= 0) {
            ASSERT_TRUE(std::holds_alternative<std::uint16_t>(got)) << c.k << " " << c.text;
            EXPECT_EQ(std::get<std::uint16_t>(got), c.word) << c.k << " " << c.text;
        } else {
            ASSERT_TRUE(std::holds_alternative<UserMessage>(got)) << c.k << " " << c.text;
            EXPECT_EQ(std::get<UserMessage>(got).text, c.refusal) << c.k << " " << c.text;
        }
    }
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
    struct Case
    {
        int index;
        int word;
        const char *text;
    };
    const Case cases[] = {
        {0, 2534, "25.34"},    {0, 5, "0.05"},       {0, 20000, "200.00"}, {0, 20001, "-455.34"},
        {1, 65336, "-1.99"},   {0, 65535, "0.00"},   {2, 65535, "0"},      {2, 2, "2"},
        {3, 65435, "-1.00"},   {3, 65534, "-0.01"},  {3, 32768, "327.68"}, {3, 32769, "-327.66"},
        {5, 40000, "-255.35"}, {8, 65535, "0.00"},   {9, 65535, "0"},      {9, 40000, "40000"},
        {12, 9600, "9600"},    {12, 40000, "40000"}, {14, 0, "0"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(decodeWord(c.index, std::uint16_t(c.word)), QString::fromLatin1(c.text))
            << c.index << " " << c.word;
}
