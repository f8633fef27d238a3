#include "operations/NumberText.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace kc;

TEST(NumericValue, AcceptsPlainDecimalSpellingsOnly)
{
    struct Case
    {
        QString text;
        std::optional<double> value;
    };
    const QString nul = QString::fromUtf16(u"5\u00005", 3);
    const Case cases[] = {
        {QStringLiteral("5"), 5},
        {QStringLiteral(" 5 "), 5},
        {QStringLiteral("\t7\t"), 7},
        {QStringLiteral("+5"), 5},
        {QStringLiteral("-0"), 0},
        {QStringLiteral("5."), 5},
        {QStringLiteral(".5"), 0.5},
        {QStringLiteral("-2.75"), -2.75},
        {QStringLiteral("007.50"), 7.5},
        {QString(), std::nullopt},
        {QStringLiteral("   "), std::nullopt},
        {QStringLiteral("."), std::nullopt},
        {QStringLiteral("+"), std::nullopt},
        {QStringLiteral("-"), std::nullopt},
        {QStringLiteral("1e3"), std::nullopt},
        {QStringLiteral("1e400"), std::nullopt},
        {QStringLiteral("nan"), std::nullopt},
        {QStringLiteral("inf"), std::nullopt},
        {QStringLiteral("0x10"), std::nullopt},
        {QStringLiteral("5,5"), std::nullopt},
        {QStringLiteral("1,000"), std::nullopt},
        {QStringLiteral("1.2.3"), std::nullopt},
        {QStringLiteral("+-5"), std::nullopt},
        {QStringLiteral("5 5"), std::nullopt},
        {QStringLiteral("abc"), std::nullopt},
        {QString::fromUtf16(u"\uFF15"), std::nullopt},  // full-width 5
        {QString::fromUtf16(u"\u0665"), std::nullopt},  // Arabic-Indic 5
        {QString::fromUtf16(u"\u00A05"), std::nullopt}, // no-break space is not a blank
        {nul, std::nullopt},
    };
    for (const auto &c : cases) {
        const auto got = numericValue(c.text);
        ASSERT_EQ(got.has_value(), c.value.has_value()) << c.text.toStdString();
        if (c.value) {
            EXPECT_DOUBLE_EQ(*got, *c.value) << c.text.toStdString();
        }
    }
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
