#include "operations/NumberText.h"

#include <QStringList>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace kc {

namespace {
bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}
} // namespace

std::optional<double> numericValue(const QString &text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;

    std::string ascii;
    ascii.reserve(std::size_t(end - begin));
    bool negative = false;
    if (begin < end && (text[begin] == QLatin1Char('+') || text[begin] == QLatin1Char('-'))) {
        negative = text[begin] == QLatin1Char('-');
        ++begin;
    }
    int digits = 0, points = 0;
    bool nonZeroInteger = false;
    for (qsizetype i = begin; i < end; ++i) {
        const char16_t c = text[i].unicode();
        if (c >= u'0' && c <= u'9') {
            ++digits;
            if (points == 0 && c != u'0')
                nonZeroInteger = true;
        } else if (c == u'.') {
            if (++points > 1)
                return std::nullopt;
        } else {
            return std::nullopt;
        }
        ascii.push_back(char(c));
    }
    if (digits == 0)
        return std::nullopt;

    // from_chars ignores the locale, so a decimal comma in the user's locale
    // never changes what "5.5" means.
    double value = 0;
    const auto [ptr, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (ec == std::errc::result_out_of_range && nonZeroInteger)
        value = std::numeric_limits<double>::infinity();
    else if (ec == std::errc::result_out_of_range)
        // Too close to zero to hold. Below zero it must still round down to
        // -1, as "-0.5" does, or a read would go out to station 0.
        value = negative ? std::numeric_limits<double>::denorm_min() : 0.0;
    else if (ec != std::errc() || ptr != ascii.data() + ascii.size())
        return std::nullopt;
    return negative ? -value : value;
}

double wholePart(double value)
{
    return std::floor(value);
}

double roundHalfEven(double value)
{
    const double lower = std::floor(value);
    const double diff = value - lower;
    if (diff < 0.5)
        return lower;
    if (diff > 0.5)
        return lower + 1;
    return std::fmod(lower, 2.0) == 0 ? lower : lower + 1;
}

std::optional<int> intInRange(double whole, int low, int high)
{
    if (!(whole >= low && whole <= high)) // also false for NaN
        return std::nullopt;
    return int(whole);
}

std::optional<int> wholeNumberIn(const QString &text, int low, int high)
{
    const auto value = numericValue(text);
    if (!value || *value != wholePart(*value))
        return std::nullopt;
    return intInRange(*value, low, high);
}

std::optional<QVector<int>> numberList(const QString &text, int low, int high)
{
    QVector<int> numbers;
    const QStringList items =
        QString(text).replace(QChar(0xFF0C), QLatin1Char(',')).split(QLatin1Char(','));
    for (const QString &item : items) {
        const QStringList ends = item.split(QLatin1Char('-'));
        const auto first = wholeNumberIn(ends.first(), low, high);
        const auto last = ends.size() == 2 ? wholeNumberIn(ends.last(), low, high) : first;
        if (ends.size() > 2 || !first || !last || *first > *last)
            return std::nullopt;
        for (int n = *first; n <= *last; ++n) {
            if (numbers.contains(n))
                return std::nullopt;
            numbers << n;
        }
    }
    return numbers;
}

} // namespace kc
