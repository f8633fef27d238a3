// Every box a request reads, every request that reads it, and texts an
// operator (or a paste) can put there: each either gets its box's message with
// nothing counted, changed or sent, or sends exactly the frame it asks for.
// What each box should do is written here apart from operations/, so the tests
// do not take their expectations from the code they check.

#include "QtPrinting.h"
#include "window/WindowHarness.h"

#include "operations/Messages.h"
#include "operations/Requests.h"

#include <QLocale>
#include <QRegularExpression>

#include <clocale>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

using namespace kc::msg;

namespace {

using Value = std::optional<long double>; // empty: the text is not a number

struct Outcome
{
    enum class Kind { Refused, Sent, Timer };
    Outcome(Kind kind, QString message, QByteArray frame = {}, int interval = 0)
        : kind(kind), message(std::move(message)), frame(std::move(frame)), interval(interval)
    {
    }
    Kind kind;
    QString message;
    QByteArray frame; // with its checksum
    int interval;
    std::optional<QString> boxAfter; // the box's text afterwards, when the request rewrites it
};

Outcome refused(const QString &message)
{
    return {Outcome::Kind::Refused, message};
}

// The payload closed by the Modbus CRC, computed bit by bit.
Outcome sent(const std::array<int, 6> &payload)
{
    QByteArray frame;
    std::uint16_t crc = 0xFFFF;
    for (int b : payload) {
        frame.append(char(b));
        crc ^= std::uint8_t(b);
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 1 ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return {Outcome::Kind::Sent, {}, frame.append(char(crc & 0xFF)).append(char(crc >> 8))};
}

std::string describe(const Outcome &o)
{
    if (o.kind == Outcome::Kind::Refused)
        return "refused: " + o.message.toStdString();
    if (o.kind == Outcome::Kind::Sent)
        return "sent " + o.frame.toHex(' ').toStdString();
    return "timer " + std::to_string(o.interval);
}

long double down(long double v)
{
    return std::floor(v);
}

// Ties to even: nearbyint in the default rounding mode.
long double even(long double v)
{
    return std::nearbyint(v);
}

using Rule = std::function<Outcome(Value)>;

// A box whose rounded value becomes payload byte `at` when it lies in [low, high].
Rule byteAt(int at, std::array<int, 6> payload, long double (*round)(long double), int low,
            int high, const QString &notNumber, const QString &outside)
{
    return [=](Value v) {
        if (!v)
            return refused(notNumber);
        const long double r = round(*v);
        if (!(r >= low && r <= high))
            return refused(outside);
        auto p = payload;
        p[at] = int(r);
        return sent(p);
    };
}

// Register k (3..14) written from its value box to station 1.
Rule registerRule(int k)
{
    return [k](Value v) {
        if (!v)
            return refused(valueNotNumber);
        const bool hundredths = k <= 8;
        // The module scales in single precision: below its smallest step a value is zero,
        // whatever its sign.
        const long double x = std::fabs(*v) < std::numeric_limits<float>::denorm_min() ? 0 : *v;
        if ((k == 3 || k == 4) && !(x >= -10 && x <= 10))
            return refused(calibrationRange);
        if (k == 12 && x != 2400 && x != 4800 && x != 9600 && x != 19200 && x != 38400)
            return refused(baudRange);
        long double scaled = hundredths ? x * 100 : x;
        if (scaled < 0)
            scaled += 65535; // negatives are stored as 65535 + value
        const long double word = even(scaled);
        if (!(word >= 0 && word <= 65535))
            return refused(hundredths ? hundredthsWordRange : integerWordRange);
        const int w = int(word), address = 0x0A00 + 2 * (k - 3);
        return sent({1, 6, address >> 8, address & 0xFF, w >> 8, w & 0xFF});
    };
}

struct Target
{
    QString box;
    std::string trigger; // a button, or "tick" for one poll of the timer
    Rule rule;
    int decimals = 6; // most decimals a generated value carries for this box
};

// Boxes other than the one under test hold these; register 5 holds 20 (word
// 2000) for the station box's write.
const std::pair<const char *, const char *> startUpTexts[] = {
    {"txtStationID", "1"},   {"txtFunID", "3"},   {"txtStartID", "0"}, {"txtDataLength", "15"},
    {"txtTimerSet", "1000"}, {"txtSetID_0", "1"}, {"txtSetID_1", "1"}, {"txtValue_5", "20"}};

std::vector<Target> targets()
{
    const Rule count = byteAt(5, {1, 3, 0, 0, 0, 0}, down, 1, 15, badLength, lengthRange);
    std::vector<Target> t;
    for (const char *trigger : {"comDoOnce", "tick"}) {
        t.push_back({"txtStationID", trigger,
                     byteAt(0, {0, 3, 0, 0, 0, 15}, down, 0, 255, badStation, badStation)});
        t.push_back({"txtFunID", trigger,
                     byteAt(1, {1, 0, 0, 0, 0, 15}, even, 0, 255, badFunction, badFunction)});
        t.push_back({"txtStartID", trigger,
                     byteAt(3, {1, 3, 0, 0, 0, 15}, down, 0, 255, badStart, badStart)});
    }
    t.push_back({"txtDataLength", "comDoOnce", count});
    // A tick puts "1" into a count box that is not a number and reads one register.
    t.push_back({"txtDataLength", "tick", [count](Value v) {
                     Outcome o = v ? count(v) : sent({1, 3, 0, 0, 0, 1});
                     if (!v)
                         o.boxAfter = QStringLiteral("1");
                     return o;
                 }});
    t.push_back({"txtStationID", "cmdSet_2",
                 byteAt(0, {0, 6, 0x0A, 0x04, 0x07, 0xD0}, even, 0, 255, badStation, badStation)});
    t.push_back({"txtStationID", "Command2",
                 byteAt(0, {0, 0x26, 0, 0, 0, 5}, even, 0, 255, badStation, badStation)});
    // The period is checked on its whole part and set to the nearest integer.
    t.push_back({"txtTimerSet", "cmdOneM", [](Value v) {
                     if (!v)
                         return refused(periodNotNumber);
                     if (!(down(*v) >= 50 && down(*v) <= 60000))
                         return refused(periodRange);
                     return Outcome{Outcome::Kind::Timer, {}, {}, int(even(*v))};
                 }});
    t.push_back({"txtSetID_0", "cmdChangeID",
                 byteAt(0, {0, 6, 0x0B, 0, 0, 1}, down, 1, 255, badCurrentAddress, addressRange)});
    t.push_back({"txtSetID_1", "cmdChangeID", [](Value v) {
                     if (!v)
                         return refused(badTargetAddress);
                     if (down(*v) < 1)
                         return refused(addressRange);
                     if (down(*v) > 250)
                         return refused(targetAddressRange);
                     return sent({1, 6, 0x0B, 0, 0, int(down(*v))});
                 }});
    // Single precision would not keep a generated tie a tie: register values
    // carry only the decimals their word holds.
    for (int k = 3; k <= 14; ++k)
        t.push_back({QStringLiteral("txtValue_%1").arg(k), "cmdSet_" + std::to_string(k - 3),
                     registerRule(k), k <= 8 ? 2 : 1});
    return t;
}

Outcome outcomeOf(const kc::Planned &planned)
{
    if (const auto *m = std::get_if<kc::UserMessage>(&planned))
        return refused(m->text);
    return {Outcome::Kind::Sent, {}, std::get<kc::RequestPlan>(planned).frame};
}

Outcome outcomeOf(const std::variant<int, kc::UserMessage> &period)
{
    if (const auto *m = std::get_if<kc::UserMessage>(&period))
        return refused(m->text);
    return {Outcome::Kind::Timer, {}, {}, std::get<int>(period)};
}

// The plan the target's request makes with `text` in its box and the start-up texts elsewhere.
Outcome planned(const Target &t, const QString &text)
{
    auto in = [&](const QString &box) {
        for (const auto &[name, startUp] : startUpTexts) {
            if (box == name && box != t.box)
                return QString::fromLatin1(startUp);
        }
        return text;
    };
    if (t.trigger == "comDoOnce" || t.trigger == "tick")
        return outcomeOf(kc::planRegisterRead(
            {in("txtStationID"), in("txtFunID"), in("txtStartID"), in("txtDataLength")}));
    if (t.trigger == "Command2")
        return outcomeOf(kc::planDeviceInfo(in("txtStationID")));
    if (t.trigger == "cmdOneM")
        return outcomeOf(kc::planPolling(text));
    if (t.trigger == "cmdChangeID")
        return outcomeOf(kc::planAddressChange(in("txtSetID_0"), in("txtSetID_1")));
    const int index = std::stoi(t.trigger.substr(7)); // cmdSet_<index>
    return outcomeOf(kc::planParameterWrite(index, in(QStringLiteral("txtValue_%1").arg(index + 3)),
                                            in("txtStationID")));
}

// A desktop whose language writes a decimal comma: the point stays the only
// decimal sign and the comma is never one.
struct DecimalCommaLanguage
{
    DecimalCommaLanguage()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8"); // where installed
    }
    ~DecimalCommaLanguage()
    {
        std::setlocale(LC_NUMERIC, previousC.c_str());
        QLocale::setDefault(previous);
    }
    QLocale previous;
    std::string previousC = std::setlocale(LC_NUMERIC, nullptr);
};

struct Input
{
    QString text;
    Value value; // what the text means as a number, written by hand
};

std::vector<Input> inputs()
{
    constexpr int megabyte = 1 << 20;
    constexpr long double inf = std::numeric_limits<long double>::infinity();
    const QString nines(megabyte, QLatin1Char('9'));
    const QChar nul(u'\0');
    std::vector<Input> in = {
        {"", {}},
        {"   ", {}},
        {" 5 ", 5},
        {"+5", 5},
        {"-0", -0.0L},
        {"5.", 5},
        {".5", 0.5},
        {"1e3", {}},
        {"1e400", {}},
        {"-1e400", {}},
        {"nan", {}},
        {"inf", {}},
        {"0x10", {}},
        {"5,5", {}},
        {"1,000", {}},
        {QStringLiteral("５"), {}},
        {QStringLiteral("٥"), {}},
        {"abc", {}},
        {QStringLiteral("5") + nul, {}},
        // Longer than a box holds: each keeps its meaning when the box cuts it.
        {nines, inf},
        {"-" + nines, -inf},
        {QString(megabyte, QLatin1Char('a')), {}},
        {QString(100, QLatin1Char('7')) + nul + nines, {}},
        // Too close to zero for a double, yet below zero: rounds down to -1.
        {"-0." + QString(400, QLatin1Char('0')) + "1", -std::numeric_limits<long double>::min()},
    };
    // Just inside and just outside every bound: bytes, count, period, addresses,
    // calibration, baud rates, and the hundredths and plain register words.
    for (double b :
         {-1.0,    -0.51,   -0.5,    -0.01,    0.0,     0.99,    1.0,     2.5,      3.5,
          10.0,    10.01,   -10.0,   -10.01,   15.99,   16.0,    49.99,   50.0,     50.5,
          51.5,    250.99,  251.0,   254.5,    255.4,   255.5,   255.99,  256.0,    655.35,
          655.36,  -655.35, -655.36, 2399.0,   2400.0,  4800.0,  9600.0,  9600.01,  19200.0,
          38400.0, 38401.0, 60000.5, 60000.99, 60001.0, 65535.4, 65535.5, -65535.0, -65536.0})
        in.push_back({QString::number(b, 'g', 10), b});
    return in;
}

// What a refused request must leave as it was.
using Snapshot = std::map<QString, QString>;

Snapshot snapshot(const WindowHarness &h)
{
    Snapshot s;
    for (const QLineEdit *e : h.window->findChildren<QLineEdit *>())
        s[e->objectName()] = e->text();
    for (const char *name : {"lblCounter", "lblErrCounter", "txtCommand", "txtState", "txtUp"})
        s[name] = h.text(name);
    const kc::WindowState &st = h.state();
    s["RecvCount"] = QString::number(st.RecvCount);
    s["state"] = QStringLiteral("%1 %2 %3 %4")
                     .arg(st.CmdType)
                     .arg(st.RecLength)
                     .arg(st.LoopOn)
                     .arg(h.window->frontLamp());
    s["timer"] = QStringLiteral("%1 %2")
                     .arg(h.window->pollTimer()->isActive())
                     .arg(h.window->pollTimer()->interval());
    s["link"] = QStringLiteral("%1 %2").arg(h.link->isOpen()).arg(h.link->rThreshold());
    return s;
}

// Runs one request on a window that has run the target's earlier cases (a
// fresh window per case would cost most of the run) and checks it.
void check(WindowHarness &h, const Target &t, const QString &text, const Outcome &expected)
{
    SCOPED_TRACE(t.box.toStdString() + " / " + t.trigger + " / " +
                 (text.size() > 40 ? text.left(12).toStdString() + "..." : text.toStdString()));
    h.window->pollTimer()->stop();
    for (const auto &[box, startUp] : startUpTexts)
        h.find<QLineEdit>(box)->setText(startUp);
    // Distinct counters and old traces, so any counting or clearing shows.
    h.find<QLabel>("lblCounter")->setText("7");
    h.find<QPlainTextEdit>("txtState")->setPlainText("old reply");
    h.find<QPlainTextEdit>("txtCommand")->setPlainText("old request");
    auto *box = h.find<QLineEdit>(t.box);
    // Short printable texts are typed key by key; the rest arrive as a paste would.
    static const QRegularExpression typeable(QStringLiteral("^[ -~]{0,40}$"));
    if (typeable.match(text).hasMatch())
        h.type(t.box, text);
    else
        box->setText(text);
    const QString entered = box->text();
    ASSERT_TRUE(entered == text || (text.size() > box->maxLength() && text.startsWith(entered)));
    Snapshot before = snapshot(h);
    h.link->clearCalls();
    h.messages.shown.clear();

    if (t.trigger == "tick")
        h.tick();
    else
        h.click(QString::fromStdString(t.trigger));

    if (expected.kind == Outcome::Kind::Refused) {
        EXPECT_EQ(h.messages.texts(), QStringList{expected.message});
        EXPECT_EQ(h.link->calls, QStringList());
        if (t.trigger == "cmdOneM") {
            // "循环" restarts both counters before it reads the period box.
            before["lblCounter"] = before["lblErrCounter"] = before["RecvCount"] = "1";
        }
        EXPECT_EQ(snapshot(h), before);
        return;
    }
    EXPECT_EQ(h.messages.texts(), QStringList());
    if (expected.kind == Outcome::Kind::Timer) {
        EXPECT_EQ(h.link->calls, QStringList());
        EXPECT_TRUE(h.window->pollTimer()->isActive());
        EXPECT_EQ(h.window->pollTimer()->interval(), expected.interval);
        EXPECT_EQ(h.text("lblCounter"), "1");
        return;
    }
    ASSERT_EQ(h.link->written.size(), 1);
    EXPECT_EQ(h.link->written[0].toHex(' ').toStdString(), expected.frame.toHex(' ').toStdString());
    EXPECT_EQ(h.text("txtCommand"), QString::fromLatin1(expected.frame.toHex(' ').toUpper() + ' '));
    const bool read = t.trigger == "comDoOnce" || t.trigger == "tick";
    EXPECT_EQ(h.text("lblCounter"), read ? "8" : "7");
    EXPECT_EQ(h.text("lblErrCounter"), before["lblErrCounter"]);
    EXPECT_EQ(box->text(), expected.boxAfter.value_or(entered));
}

// A decimal text built from random parts, with its exact value. Magnitudes
// cluster around the byte, period and word limits; spellings include blanks,
// signs, leading zeros and a bare point.
std::pair<QString, long double> randomDecimal(std::mt19937 &rng, int maxDecimals)
{
    auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(rng);
    };
    static const int anchors[] = {0, 1, 10, 15, 50, 250, 255, 2400, 9600, 38400, 60000, 65535};
    const int integer = std::max(0, anchors[pick(0, int(std::size(anchors)) - 1)] + pick(-2, 2));
    const int decimals = pick(0, 1) ? pick(0, maxDecimals) : -1; // -1: no point
    std::int64_t fraction = 0, scale = 1;
    QString fractionText;
    for (int i = 0; i < decimals; ++i) {
        // Halves, where rounding down, to nearest and to even part ways.
        const int digit = i == 0 && pick(0, 3) == 0 ? 5 : pick(0, 9);
        fractionText += QChar(u'0' + digit);
        fraction = fraction * 10 + digit;
        scale *= 10;
    }
    QString integerText = (pick(0, 4) ? QString() : "00") + QString::number(integer);
    if (integer == 0 && decimals > 0 && pick(0, 1))
        integerText.clear();
    const int sign = pick(0, 2);
    const char *blanks[] = {"", " ", "\t", "  \t"}, *signs[] = {"", "+", "-"};
    const QString lead = blanks[pick(0, 3)], trail = blanks[pick(0, 3)];
    const QString text =
        lead + signs[sign] + integerText + (decimals >= 0 ? "." : "") + fractionText + trail;
    const long double magnitude = integer + static_cast<long double>(fraction) / scale;
    return {text, sign == 2 ? -magnitude : magnitude};
}

} // namespace

TEST(BadInput, EveryBoxEveryRequest)
{
    DecimalCommaLanguage language;
    const std::vector<Input> in = inputs();
    for (const Target &t : targets()) {
        WindowHarness h;
        for (const Input &i : in)
            check(h, t, i.text, t.rule(i.value));
    }
}

// No request goes out with a byte the operator did not ask for: every frame a
// generated number produces, or the refusal, is the one its box defines.
TEST(BadInput, NoRequestCarriesAByteNotAskedFor)
{
    DecimalCommaLanguage language;
    std::mt19937 rng(20261206);
    int sentCount = 0, refusedCount = 0;
    const std::vector<Target> all = targets();
    for (int i = 0; i < 4000; ++i) {
        for (const Target &t : all) {
            if (t.trigger == "tick")
                continue; // the same plan as its button
            const auto [text, value] = randomDecimal(rng, t.decimals);
            const Outcome expected = t.rule(value);
            EXPECT_EQ(describe(planned(t, text)), describe(expected))
                << t.box.toStdString() << " / " << t.trigger << " / \"" << text.toStdString()
                << '"';
            ++(expected.kind == Outcome::Kind::Refused ? refusedCount : sentCount);
        }
    }
    // The generator reaches both sides of the limits.
    EXPECT_GT(sentCount, 20000);
    EXPECT_GT(refusedCount, 20000);
}
