// The request plans straight from operations/: texts the window's boxes cannot
// hold (a full megabyte), and generated numbers whose every frame byte must be
// the one the operator typed, rounded as that box rounds.

#include "ReferenceRules.h"

#include "operations/NumberText.h"
#include "operations/Requests.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <clocale>
#include <iostream>

#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

using namespace robust;

namespace {

constexpr int megabyte = 1 << 20;
constexpr long double inf = std::numeric_limits<long double>::infinity();

// The smallest magnitude a long double holds stands for a number whose digits
// lie past every floating-point range: it rounds like the number itself.
constexpr long double tiny = std::numeric_limits<long double>::denorm_min();

QString repeated(char c, int n)
{
    return QString(n, QLatin1Char(c));
}

// A plan or the polling period, as the rules describe outcomes.
Outcome outcomeOf(const kc::Planned &planned)
{
    if (const auto *m = std::get_if<kc::UserMessage>(&planned))
        return Outcome::refused(m->text);
    const QByteArray &frame = std::get<kc::RequestPlan>(planned).frame;
    std::array<std::uint8_t, 6> payload{};
    for (int i = 0; i < 6 && i < frame.size(); ++i)
        payload[i] = std::uint8_t(frame[i]);
    Outcome o = Outcome::sent(payload);
    // A frame of another length or with a wrong checksum never equals an expectation.
    if (frame.size() != 8 || !crcClosesFrame(frame))
        o.kind = Outcome::Kind::Timer;
    return o;
}

Outcome outcomeOf(const std::variant<int, kc::UserMessage> &period)
{
    if (const auto *m = std::get_if<kc::UserMessage>(&period))
        return Outcome::refused(m->text);
    return Outcome::timer(std::get<int>(period));
}

struct PlanTarget
{
    std::string name;
    std::function<Outcome(const QString &)> plan;
    std::function<Outcome(Value)> rule;
    bool singlePrecision = false; // register values are scaled as floats
};

std::vector<PlanTarget> planTargets()
{
    std::vector<PlanTarget> t = {
        {"read station",
         [](const QString &s) {
             return outcomeOf(kc::planRegisterRead({s, "3", "0", "15"}));
         },
         rules::readStation},
        {"function",
         [](const QString &s) {
             return outcomeOf(kc::planRegisterRead({"1", s, "0", "15"}));
         },
         rules::function},
        {"start",
         [](const QString &s) {
             return outcomeOf(kc::planRegisterRead({"1", "3", s, "15"}));
         },
         rules::start},
        {"count",
         [](const QString &s) {
             return outcomeOf(kc::planRegisterRead({"1", "3", "0", s}));
         },
         rules::count},
        {"write station",
         [](const QString &s) { return outcomeOf(kc::planParameterWrite(2, "20", s)); },
         rules::writeStation},
        {"information station", [](const QString &s) { return outcomeOf(kc::planDeviceInfo(s)); },
         rules::infoStation},
        {"period", [](const QString &s) { return outcomeOf(kc::planPolling(s)); }, rules::period},
        {"current address",
         [](const QString &s) { return outcomeOf(kc::planAddressChange(s, "1")); },
         rules::currentAddress},
        {"target address",
         [](const QString &s) { return outcomeOf(kc::planAddressChange("1", s)); },
         rules::targetAddress},
    };
    for (int k = 3; k <= 14; ++k)
        t.push_back(
            {"register " + std::to_string(k),
             [k](const QString &s) { return outcomeOf(kc::planParameterWrite(k - 3, s, "1")); },
             [k](Value v) { return rules::registerValue(k, v); }, true});
    return t;
}

void expectSame(const Outcome &actual, const Outcome &expected)
{
    EXPECT_EQ(int(actual.kind), int(expected.kind));
    EXPECT_EQ(actual.message, expected.message);
    EXPECT_EQ(actual.payload, expected.payload);
    EXPECT_EQ(actual.interval, expected.interval);
}

struct Huge
{
    QString text;
    Value value;
    std::string name;
};

std::vector<Huge> megabyteTexts()
{
    return {
        {repeated('9', megabyte), inf, "nines"},
        {"-" + repeated('9', megabyte), -inf, "minus nines"},
        {"+" + repeated('0', megabyte) + "7", 7.0L, "leading zeros"},
        {repeated('0', megabyte) + "7.5", 7.5L, "leading zeros with a half"},
        {repeated(' ', megabyte / 2) + "5" + repeated('\t', megabyte / 2), 5.0L, "blanks around 5"},
        {"0." + repeated('0', megabyte) + "1", tiny, "far below one"},
        {"-0." + repeated('0', megabyte) + "1", -tiny, "just below zero"},
        {"-0." + repeated('0', 400) + "1", -tiny, "just below zero, 400 zeros"},
        {"12." + repeated('0', megabyte), 12.0L, "trailing zeros"},
        {repeated('a', megabyte), {}, "letters"},
        {repeated('5', megabyte / 2) + QChar(u'\0') + repeated('5', megabyte / 2),
         {},
         "NUL inside"},
        {repeated('5', megabyte) + "e3", {}, "exponent at the end"},
        {repeated('1', megabyte / 2) + "." + repeated('1', megabyte / 2) + ".", {}, "two points"},
        {repeated(' ', megabyte), {}, "blanks"},
    };
}

} // namespace

TEST(BadInputPlans, MegabyteTextsInEveryPlan)
{
    const auto targets = planTargets();
    for (const Huge &h : megabyteTexts()) {
        SCOPED_TRACE(h.name);
        const auto value = kc::numericValue(h.text);
        ASSERT_EQ(value.has_value(), h.value.has_value());
        if (value) {
            EXPECT_EQ(std::signbit(*value), std::signbit(*h.value));
            EXPECT_EQ(std::floor(*value), double(std::floor(*h.value)));
        }
        for (const PlanTarget &t : targets) {
            SCOPED_TRACE(t.name);
            Value v = h.value;
            // Below a float's smallest step a register value is zero, whatever its sign.
            if (t.singlePrecision && v && std::fabs(*v) < std::numeric_limits<float>::denorm_min())
                v = 0.0L;
            expectSame(t.plan(h.text), t.rule(v));
        }
    }
}

TEST(BadInputPlans, StartRegisterOfAnyText)
{
    // The decode start only places words: far-off values just miss every box.
    EXPECT_GE(kc::startRegisterOf(repeated('9', megabyte)), 15);
    EXPECT_LT(kc::startRegisterOf("-" + repeated('9', megabyte)), 0);
    EXPECT_EQ(kc::startRegisterOf(repeated('0', megabyte) + "7"), 7);
    EXPECT_EQ(kc::startRegisterOf(repeated('a', megabyte)), 0);
    EXPECT_EQ(kc::startRegisterOf("-0." + repeated('0', 400) + "1"), -1);
    EXPECT_EQ(kc::startRegisterOf("3.99"), 3);
}

namespace {

// A decimal text built from its parts, so its exact value is known without
// reading the text back.
struct Decimal
{
    bool negative = false;
    std::int64_t integer = 0;
    std::int64_t fraction = 0; // digits after the point, as an integer
    int fractionDigits = 0;
    QString text;

    std::int64_t scale() const
    {
        std::int64_t s = 1;
        for (int i = 0; i < fractionDigits; ++i)
            s *= 10;
        return s;
    }
    std::int64_t floor() const
    {
        if (!negative)
            return integer;
        return -(integer + (fraction > 0 ? 1 : 0));
    }
    std::int64_t nearestEven() const
    {
        const std::int64_t twice = 2 * fraction, s = scale();
        std::int64_t m = integer;
        if (twice > s || (twice == s && integer % 2 == 1))
            ++m;
        return negative ? -m : m;
    }
    // Exact value times 10^digits, for digits >= fractionDigits.
    std::int64_t scaledBy(int digits) const
    {
        std::int64_t v = integer, f = fraction;
        for (int i = 0; i < digits; ++i)
            v *= 10;
        for (int i = fractionDigits; i < digits; ++i)
            f *= 10;
        return negative ? -(v + f) : v + f;
    }
};

Decimal randomDecimal(std::mt19937 &rng, int maxFractionDigits)
{
    auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(rng);
    };
    Decimal d;
    const int sign = pick(0, 2);
    d.negative = sign == 2;
    // Magnitudes cluster around the byte, period and word limits.
    static const std::int64_t anchors[] = {0,   1,    10,   15,    50,    250,
                                           255, 2400, 9600, 38400, 60000, 65535};
    const std::int64_t anchor = anchors[pick(0, int(std::size(anchors)) - 1)];
    d.integer = std::max<std::int64_t>(0, anchor + pick(-2, 2));
    const bool point = pick(0, 1) == 1;
    d.fractionDigits = point ? pick(0, maxFractionDigits) : 0;
    QString fractionText;
    for (int i = 0; i < d.fractionDigits; ++i) {
        const int digit = i == 0 && pick(0, 3) == 0 ? 5 : pick(0, 9);
        fractionText += QChar(u'0' + digit);
        d.fraction = d.fraction * 10 + digit;
    }
    QString integerText =
        d.integer == 0 && point && pick(0, 1) ? QString() : QString::number(d.integer);
    if (integerText.isEmpty() && fractionText.isEmpty())
        integerText = QStringLiteral("0");
    if (pick(0, 4) == 0)
        integerText.prepend(QStringLiteral("00"));
    const char *blanks[] = {"", " ", "\t", "  \t"};
    d.text = QString::fromLatin1(blanks[pick(0, 3)]) +
             (sign == 1   ? QStringLiteral("+")
              : sign == 2 ? QStringLiteral("-")
                          : QString()) +
             integerText + (point ? QStringLiteral(".") : QString()) + fractionText +
             QString::fromLatin1(blanks[pick(0, 3)]);
    return d;
}

bool inByte(std::int64_t v)
{
    return v >= 0 && v <= 255;
}

} // namespace

// Every accepted request carries exactly the byte its box asked for; a value
// outside its byte is refused rather than sent as some other byte.
TEST(BadInputPlans, AcceptedFramesCarryTheTypedBytes)
{
    std::mt19937 rng(20261206);
    int accepted = 0, refused = 0;
    for (int i = 0; i < 20000; ++i) {
        const Decimal d = randomDecimal(rng, 6);
        SCOPED_TRACE(d.text.toStdString());
        auto frameOf = [](const kc::Planned &p) -> QByteArray {
            const auto *plan = std::get_if<kc::RequestPlan>(&p);
            if (!plan)
                return {};
            EXPECT_EQ(plan->frame.size(), 8);
            EXPECT_TRUE(crcClosesFrame(plan->frame));
            return plan->frame;
        };
        auto expectByte = [&](const kc::Planned &p, int at, std::int64_t wanted) {
            const QByteArray frame = frameOf(p);
            if (inByte(wanted)) {
                ASSERT_EQ(frame.size(), 8);
                EXPECT_EQ(std::uint8_t(frame[at]), wanted);
                ++accepted;
            } else {
                EXPECT_TRUE(frame.isEmpty()) << "sent byte " << int(std::uint8_t(frame[at]));
                ++refused;
            }
        };
        expectByte(kc::planRegisterRead({d.text, "3", "0", "15"}), 0, d.floor());
        expectByte(kc::planRegisterRead({"1", d.text, "0", "15"}), 1, d.nearestEven());
        expectByte(kc::planRegisterRead({"1", "3", d.text, "15"}), 3, d.floor());
        expectByte(kc::planParameterWrite(2, "20", d.text), 0, d.nearestEven());
        expectByte(kc::planDeviceInfo(d.text), 0, d.nearestEven());

        const std::int64_t count = d.floor();
        const QByteArray read = frameOf(kc::planRegisterRead({"1", "3", "0", d.text}));
        if (count >= 1 && count <= 15)
            EXPECT_EQ(read.size() == 8 ? int(read[5]) : -1, count);
        else
            EXPECT_TRUE(read.isEmpty());

        const std::int64_t address = d.floor();
        const QByteArray change = frameOf(kc::planAddressChange(d.text, "1"));
        if (address >= 1 && address <= 255)
            EXPECT_EQ(change.size() == 8 ? std::uint8_t(change[0]) : -1, address);
        else
            EXPECT_TRUE(change.isEmpty());
        const QByteArray moveTo = frameOf(kc::planAddressChange("1", d.text));
        if (address >= 1 && address <= 250)
            EXPECT_EQ(moveTo.size() == 8 ? std::uint8_t(moveTo[5]) : -1, address);
        else
            EXPECT_TRUE(moveTo.isEmpty());

        const auto period = kc::planPolling(d.text);
        if (d.floor() >= 50 && d.floor() <= 60000)
            EXPECT_EQ(std::get_if<int>(&period) ? *std::get_if<int>(&period) : -1, d.nearestEven());
        else
            EXPECT_TRUE(std::holds_alternative<kc::UserMessage>(period));
    }
    // The generator reaches both sides of the limits.
    EXPECT_GT(accepted, 10000);
    EXPECT_GT(refused, 10000);
}

// Register words: hundredths rows take two decimals exactly, plain rows one;
// negatives are stored as 65535 + value, and nothing outside a word goes out.
TEST(BadInputPlans, RegisterWordsAreTheTypedValues)
{
    std::mt19937 rng(4420);
    int sent = 0;
    for (int i = 0; i < 20000; ++i) {
        const int k = 3 + i % 12;
        const bool hundredths = rules::hundredthsRow(k);
        const Decimal d = randomDecimal(rng, hundredths ? 2 : 1);
        SCOPED_TRACE("register " + std::to_string(k) + " text " + d.text.toStdString());
        const auto planned = kc::planParameterWrite(k - 3, d.text, "1");
        const auto *plan = std::get_if<kc::RequestPlan>(&planned);

        // The exact value in hundredths or tenths; the offset is added before
        // rounding, so -2.5 on a plain row is 65532.5 and rounds to 65532.
        const std::int64_t raw = d.scaledBy(hundredths ? 2 : 1);
        std::int64_t units = raw < 0 ? raw + (hundredths ? 65535 : 655350) : raw;
        std::int64_t word = units;
        if (!hundredths) {
            const std::int64_t magnitude = units < 0 ? -units : units;
            std::int64_t q = magnitude / 10;
            const std::int64_t r = magnitude % 10;
            if (r > 5 || (r == 5 && q % 2 == 1))
                ++q;
            word = units < 0 ? -q : q;
        }
        bool allowed = word >= 0 && word <= 65535;
        if (k == 3 || k == 4)
            allowed = std::llabs(raw) <= 1000;
        if (k == 12)
            allowed =
                raw == 24000 || raw == 48000 || raw == 96000 || raw == 192000 || raw == 384000;
        if (!allowed) {
            EXPECT_EQ(plan, nullptr);
            continue;
        }
        ASSERT_NE(plan, nullptr) << std::get<kc::UserMessage>(planned).text.toStdString();
        ASSERT_EQ(plan->frame.size(), 8);
        EXPECT_TRUE(crcClosesFrame(plan->frame));
        const int address = 0x0A00 + 2 * (k - 3);
        EXPECT_EQ(std::uint8_t(plan->frame[0]), 1);
        EXPECT_EQ(std::uint8_t(plan->frame[1]), 6);
        EXPECT_EQ(std::uint8_t(plan->frame[2]), address >> 8);
        EXPECT_EQ(std::uint8_t(plan->frame[3]), address & 0xFF);
        EXPECT_EQ(std::uint8_t(plan->frame[4]) << 8 | std::uint8_t(plan->frame[5]), word);
        ++sent;
    }
    EXPECT_GT(sent, 5000);
}

// A desktop whose language writes a decimal comma changes nothing: the point
// is the only decimal sign and the comma is never one.
TEST(BadInputPlans, DecimalPointWhateverTheLanguage)
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const std::string previousC = std::setlocale(LC_NUMERIC, nullptr);
    const bool cLocale = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;

    EXPECT_EQ(kc::numericValue("2.5"), 2.5);
    EXPECT_EQ(kc::numericValue("2,5"), std::nullopt);
    expectSame(outcomeOf(kc::planParameterWrite(0, "1.5", "1")), rules::registerValue(3, 1.5L));
    expectSame(outcomeOf(kc::planParameterWrite(0, "1,5", "1")),
               Outcome::refused(kc::msg::valueNotNumber));
    expectSame(outcomeOf(kc::planPolling("100.5")), Outcome::timer(100));

    std::setlocale(LC_NUMERIC, previousC.c_str());
    QLocale::setDefault(previous);
    if (!cLocale)
        std::cout << "de_DE.UTF-8 is not installed; only Qt's default locale was changed\n";
}
