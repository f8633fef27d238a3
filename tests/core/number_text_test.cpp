#include "operations/NumberText.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace kc;

TEST(NumericValue, AcceptsPlainDecimalSpellingsOnly)
{
    const std::pair<const char *, double> accepted[] = {
        {"5", 5},  {" 5 ", 5},  {"\t7\t", 7},     {"+5", 5},       {"-0", 0},
        {"5.", 5}, {".5", 0.5}, {"-2.75", -2.75}, {"007.50", 7.5},
    };
    for (const auto &[text, value] : accepted) {
        const auto got = numericValue(QString::fromLatin1(text));
        ASSERT_TRUE(got) << text;
        EXPECT_DOUBLE_EQ(*got, value) << text;
    }
    // Full-width and Arabic-Indic digits are no digits, a no-break space no blank.
    for (const char16_t *text :
         {u"", u"   ", u".", u"+", u"-", u"1e3", u"1e400", u"nan", u"inf", u"0x10", u"5,5",
          u"1,000", u"1.2.3", u"+-5", u"5 5", u"abc", u"\uFF15", u"\u0665", u"\u00A05"})
        EXPECT_FALSE(numericValue(QString::fromUtf16(text)))
            << QString::fromUtf16(text).toStdString();
    EXPECT_FALSE(numericValue(QString()));
    EXPECT_FALSE(numericValue(QString::fromUtf16(u"5\u00005", 3)));
}

TEST(NumericValue, HugeAndTinyNumbersStayNumbers)
{
    const QString huge(1 << 20, QLatin1Char('9'));
    ASSERT_TRUE(numericValue(huge));
    EXPECT_TRUE(std::isinf(*numericValue(huge)));
    EXPECT_TRUE(std::isinf(*numericValue(QLatin1Char('-') + huge)));
    const QString tiny = QStringLiteral("0.") + QString(400, QLatin1Char('0')) + QLatin1Char('1');
    ASSERT_TRUE(numericValue(tiny));
    EXPECT_EQ(*numericValue(tiny), 0.0);
    EXPECT_FALSE(intInRange(wholePart(*numericValue(huge)), 0, 255));
}

TEST(Rounding, HalvesGoToTheEvenNeighbour)
{
    const std::pair<double, double> cases[] = {
        {0.5, 0},   {1.5, 2}, {2.5, 2}, {3.5, 4},   {-0.5, 0},    {-1.5, -2},
        {-2.5, -2}, {2.4, 2}, {2.6, 3}, {-2.6, -3}, {255.5, 256}, {65534.5, 65534}};
    for (const auto &[in, out] : cases)
        EXPECT_EQ(roundHalfEven(in), out) << in;
    EXPECT_EQ(wholePart(2.9), 2);
    EXPECT_EQ(wholePart(-0.5), -1);
}

// One rule for every list of numbers: stations, scan ranges, template rows.
TEST(NumberList, ItemsAndRangesEachOnce)
{
    const std::pair<const char *, QVector<int>> good[] = {{"5", {5}},
                                                          {" 1-3 ,7", {1, 2, 3, 7}},
                                                          {"250", {250}},
                                                          {"9，8", {9, 8}},
                                                          {"+2,3.0", {2, 3}}};
    for (const auto &[text, numbers] : good)
        EXPECT_EQ(numberList(QString::fromUtf8(text), 1, 250), numbers) << text;
    for (const char *bad :
         {"", "0", "251", "3-1", "1,1", "1-3,2", "1-", "-1", "a", "1.5", "1-300", "1--2", "1,,2"})
        EXPECT_EQ(numberList(QString::fromLatin1(bad), 1, 250), std::nullopt) << bad;
}
