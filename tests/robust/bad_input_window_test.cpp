// Every box a request reads, every request that reads it, and texts an
// operator (or a paste) can put there: each either gets its box's message with
// nothing counted, changed or sent, or sends exactly the frame it asks for.

#include "ReferenceRules.h"
#include "window/WindowHarness.h"

#include "operations/Messages.h"
#include "protocol/ResponseReceiver.h"

#include <functional>
#include <string>
#include <vector>

using namespace robust;
using kc::msg::addressRange;
using kc::msg::badFunction;
using kc::msg::badStart;
using kc::msg::badStation;
using kc::msg::baudRange;
using kc::msg::calibrationRange;
using kc::msg::hundredthsWordRange;
using kc::msg::integerWordRange;
using kc::msg::lengthRange;
using kc::msg::periodRange;
using kc::msg::targetAddressRange;

namespace {

constexpr long double inf = std::numeric_limits<long double>::infinity();
constexpr int megabyte = 1 << 20;

struct Target
{
    std::string box;
    std::string trigger; // a button, or "tick" for one poll of the timer
    std::function<Outcome(Value)> rule;
    QList<std::pair<const char *, const char *>> setup; // other boxes it needs
};

std::vector<Target> targets()
{
    std::vector<Target> t = {
        {"txtStationID", "comDoOnce", rules::readStation, {}},
        {"txtStationID", "tick", rules::readStation, {}},
        {"txtStationID", "cmdSet_2", rules::writeStation, {{"txtValue_5", "20"}}},
        {"txtStationID", "Command2", rules::infoStation, {}},
        {"txtFunID", "comDoOnce", rules::function, {}},
        {"txtFunID", "tick", rules::function, {}},
        {"txtStartID", "comDoOnce", rules::start, {}},
        {"txtStartID", "tick", rules::start, {}},
        {"txtDataLength", "comDoOnce", rules::count, {}},
        {"txtDataLength", "tick", rules::tickCount, {}},
        {"txtTimerSet", "cmdOneM", rules::period, {}},
        {"txtSetID_0", "cmdChangeID", rules::currentAddress, {}},
        {"txtSetID_1", "cmdChangeID", rules::targetAddress, {}},
    };
    for (int k = 3; k <= 14; ++k)
        t.push_back({"txtValue_" + std::to_string(k),
                     "cmdSet_" + std::to_string(k - 3),
                     [k](Value v) { return rules::registerValue(k, v); },
                     {}});
    return t;
}

struct Input
{
    QString text;
    Value value; // what the text means as a number, written by hand
    std::string name;
};

QString repeated(char c, int n)
{
    return QString(n, QLatin1Char(c));
}

QString withNul(const char *before, const char *after)
{
    return QString::fromLatin1(before) + QChar(u'\0') + QString::fromLatin1(after);
}

// Texts every box gets. Those over 32767 characters pass through QLineEdit's
// default maxLength; each is chosen so its meaning survives that cut.
std::vector<Input> everyBoxInputs()
{
    std::vector<Input> in = {
        {"", {}, "empty"},
        {"   ", {}, "blanks"},
        {"\t \t", {}, "tabs and blanks"},
        {" 5 ", 5.0L, "\" 5 \""},
        {"\t5\t", 5.0L, "tab 5 tab"},
        {"+5", 5.0L, "+5"},
        {"-0", -0.0L, "-0"},
        {"5.", 5.0L, "5."},
        {".5", 0.5L, ".5"},
        {"+.5", 0.5L, "+.5"},
        {"007.50", 7.5L, "007.50"},
        {"1e3", {}, "1e3"},
        {"1E3", {}, "1E3"},
        {"1e400", {}, "1e400"},
        {"-1e400", {}, "-1e400"},
        {"nan", {}, "nan"},
        {"inf", {}, "inf"},
        {"-inf", {}, "-inf"},
        {"0x10", {}, "0x10"},
        {"5,5", {}, "5,5"},
        {"1,000", {}, "1,000"},
        {"1 000", {}, "1 000"},
        {QStringLiteral("５"), {}, "full-width 5"},
        {QStringLiteral("٥"), {}, "Arabic-Indic 5"},
        {QStringLiteral("۵"), {}, "extended Arabic-Indic 5"},
        {QStringLiteral("\u00A05"), {}, "no-break space 5"},
        {"5\n", {}, "5 newline"},
        {"abc", {}, "letters"},
        {"5a", {}, "5a"},
        {"+-5", {}, "+-5"},
        {"--5", {}, "--5"},
        {"5-", {}, "5-"},
        {"1.2.3", {}, "1.2.3"},
        {".", {}, "point"},
        {"+", {}, "plus"},
        {"-.", {}, "minus point"},
        {withNul("5", ""), {}, "5 NUL"},
        {withNul("", "5"), {}, "NUL 5"},
        {withNul("1", "2"), {}, "1 NUL 2"},
        {"0", 0.0L, "0"},
        {"1", 1.0L, "1"},
        {"2.5", 2.5L, "2.5"},
        {"3.5", 3.5L, "3.5"},
        {"-1", -1.0L, "-1"},
        {"-0.5", -0.5L, "-0.5"},
        {"15.99", 15.99L, "15.99"},
        {"255", 255.0L, "255"},
        {"255.5", 255.5L, "255.5"},
        {"256", 256.0L, "256"},
        {"9600", 9600.0L, "9600"},
        {"60000.99", 60000.99L, "60000.99"},
        {"65536", 65536.0L, "65536"},
        {"-655.36", -655.36L, "-655.36"},
        {repeated('9', megabyte), inf, "1 MB of nines"},
        {"-" + repeated('9', megabyte), -inf, "minus 1 MB of nines"},
        {repeated('0', megabyte), 0.0L, "1 MB of zeros"},
        {repeated('a', megabyte), {}, "1 MB of letters"},
        {repeated('7', 100) + QChar(u'\0') + repeated('7', megabyte), {}, "1 MB with a NUL"},
    };
    return in;
}

Outcome sent(const char *hex)
{
    const QByteArray b = QByteArray::fromHex(hex);
    if (b.size() != 6)
        throw std::logic_error(std::string("payload needs six bytes: ") + hex);
    std::array<std::uint8_t, 6> p{};
    for (int i = 0; i < 6; ++i)
        p[i] = std::uint8_t(b[i]);
    return Outcome::sent(p);
}
Outcome refused(const QString &m)
{
    return Outcome::refused(m);
}
// A tick reads one register when the count box is not a number, and says so in the box.
Outcome tickStandIn()
{
    Outcome o = sent("01 03 00 00 00 01");
    o.boxAfter = QStringLiteral("1");
    return o;
}

struct Boundary
{
    const char *box, *trigger;
    QString text;
    Outcome expected; // by hand, not from the rules above
};

// Just inside and just outside every bound.
std::vector<Boundary> boundaries()
{
    std::vector<Boundary> b = {
        {"txtStationID", "comDoOnce", "0", sent("00 03 00 00 00 0F")},
        {"txtStationID", "comDoOnce", "255", sent("FF 03 00 00 00 0F")},
        {"txtStationID", "comDoOnce", "255.99", sent("FF 03 00 00 00 0F")},
        {"txtStationID", "comDoOnce", "256", refused(badStation)},
        {"txtStationID", "comDoOnce", "-1", refused(badStation)},
        {"txtStationID", "comDoOnce", "-0.01", refused(badStation)},
        {"txtStationID", "tick", "0", sent("00 03 00 00 00 0F")},
        {"txtStationID", "tick", "255", sent("FF 03 00 00 00 0F")},
        {"txtStationID", "tick", "256", refused(badStation)},
        {"txtStationID", "tick", "-1", refused(badStation)},
        {"txtStationID", "cmdSet_2", "0", sent("00 06 0A 04 07 D0")},
        {"txtStationID", "cmdSet_2", "255", sent("FF 06 0A 04 07 D0")},
        {"txtStationID", "cmdSet_2", "255.4", sent("FF 06 0A 04 07 D0")},
        {"txtStationID", "cmdSet_2", "254.5", sent("FE 06 0A 04 07 D0")},
        {"txtStationID", "cmdSet_2", "255.5", refused(badStation)},
        {"txtStationID", "cmdSet_2", "256", refused(badStation)},
        {"txtStationID", "cmdSet_2", "-0.5", sent("00 06 0A 04 07 D0")},
        {"txtStationID", "cmdSet_2", "-0.51", refused(badStation)},
        {"txtStationID", "cmdSet_2", "-1", refused(badStation)},
        {"txtStationID", "Command2", "0", sent("00 26 00 00 00 05")},
        {"txtStationID", "Command2", "255", sent("FF 26 00 00 00 05")},
        {"txtStationID", "Command2", "255.5", refused(badStation)},
        {"txtStationID", "Command2", "256", refused(badStation)},
        {"txtStationID", "Command2", "-1", refused(badStation)},
        {"txtFunID", "comDoOnce", "255.4", sent("01 FF 00 00 00 0F")},
        {"txtFunID", "comDoOnce", "255.5", refused(badFunction)},
        {"txtFunID", "comDoOnce", "2.5", sent("01 02 00 00 00 0F")},
        {"txtFunID", "comDoOnce", "3.5", sent("01 04 00 00 00 0F")},
        {"txtFunID", "comDoOnce", "-0.5", sent("01 00 00 00 00 0F")},
        {"txtFunID", "comDoOnce", "-0.6", refused(badFunction)},
        {"txtFunID", "tick", "255.4", sent("01 FF 00 00 00 0F")},
        {"txtFunID", "tick", "255.5", refused(badFunction)},
        {"txtStartID", "comDoOnce", "255", sent("01 03 00 FF 00 0F")},
        {"txtStartID", "comDoOnce", "255.9", sent("01 03 00 FF 00 0F")},
        {"txtStartID", "comDoOnce", "256", refused(badStart)},
        {"txtStartID", "comDoOnce", "-0.5", refused(badStart)},
        {"txtStartID", "tick", "255", sent("01 03 00 FF 00 0F")},
        {"txtStartID", "tick", "256", refused(badStart)},
        {"txtDataLength", "comDoOnce", "0.99", refused(lengthRange)},
        {"txtDataLength", "comDoOnce", "1", sent("01 03 00 00 00 01")},
        {"txtDataLength", "comDoOnce", "15.99", sent("01 03 00 00 00 0F")},
        {"txtDataLength", "comDoOnce", "16", refused(lengthRange)},
        {"txtDataLength", "tick", "0.99", refused(lengthRange)},
        {"txtDataLength", "tick", "1", sent("01 03 00 00 00 01")},
        {"txtDataLength", "tick", "15.99", sent("01 03 00 00 00 0F")},
        {"txtDataLength", "tick", "16", refused(lengthRange)},
        {"txtDataLength", "tick", "x", tickStandIn()},
        {"txtTimerSet", "cmdOneM", "49.99", refused(periodRange)},
        {"txtTimerSet", "cmdOneM", "50", Outcome::timer(50)},
        {"txtTimerSet", "cmdOneM", "50.5", Outcome::timer(50)},
        {"txtTimerSet", "cmdOneM", "51.5", Outcome::timer(52)},
        {"txtTimerSet", "cmdOneM", "60000", Outcome::timer(60000)},
        {"txtTimerSet", "cmdOneM", "60000.5", Outcome::timer(60000)},
        // The check takes the whole part, the timer the nearest integer.
        {"txtTimerSet", "cmdOneM", "60000.99", Outcome::timer(60001)},
        {"txtTimerSet", "cmdOneM", "60001", refused(periodRange)},
        {"txtSetID_0", "cmdChangeID", "1", sent("01 06 0B 00 00 01")},
        {"txtSetID_0", "cmdChangeID", "250", sent("FA 06 0B 00 00 01")},
        {"txtSetID_0", "cmdChangeID", "251", sent("FB 06 0B 00 00 01")},
        {"txtSetID_0", "cmdChangeID", "255", sent("FF 06 0B 00 00 01")},
        {"txtSetID_0", "cmdChangeID", "255.9", sent("FF 06 0B 00 00 01")},
        {"txtSetID_0", "cmdChangeID", "256", refused(addressRange)},
        {"txtSetID_0", "cmdChangeID", "0", refused(addressRange)},
        {"txtSetID_0", "cmdChangeID", "0.99", refused(addressRange)},
        {"txtSetID_0", "cmdChangeID", "-0.5", refused(addressRange)},
        {"txtSetID_1", "cmdChangeID", "1", sent("01 06 0B 00 00 01")},
        {"txtSetID_1", "cmdChangeID", "250", sent("01 06 0B 00 00 FA")},
        {"txtSetID_1", "cmdChangeID", "250.9", sent("01 06 0B 00 00 FA")},
        {"txtSetID_1", "cmdChangeID", "251", refused(targetAddressRange)},
        {"txtSetID_1", "cmdChangeID", "255", refused(targetAddressRange)},
        {"txtSetID_1", "cmdChangeID", "256", refused(targetAddressRange)},
        {"txtSetID_1", "cmdChangeID", "0", refused(addressRange)},
        {"txtSetID_1", "cmdChangeID", "0.5", refused(addressRange)},
        {"txtSetID_1", "cmdChangeID", "-0.5", refused(addressRange)},
        {"txtValue_3", "cmdSet_0", "10", sent("01 06 0A 00 03 E8")},
        {"txtValue_3", "cmdSet_0", "-10", sent("01 06 0A 00 FC 17")},
        {"txtValue_3", "cmdSet_0", "10.01", refused(calibrationRange)},
        {"txtValue_3", "cmdSet_0", "-10.01", refused(calibrationRange)},
        {"txtValue_3", "cmdSet_0", "0.01", sent("01 06 0A 00 00 01")},
        {"txtValue_3", "cmdSet_0", "-0.01", sent("01 06 0A 00 FF FE")},
        {"txtValue_4", "cmdSet_1", "10", sent("01 06 0A 02 03 E8")},
        {"txtValue_4", "cmdSet_1", "-10", sent("01 06 0A 02 FC 17")},
        {"txtValue_4", "cmdSet_1", "10.01", refused(calibrationRange)},
        {"txtValue_4", "cmdSet_1", "-10.01", refused(calibrationRange)},
        {"txtValue_12", "cmdSet_9", "2400", sent("01 06 0A 12 09 60")},
        {"txtValue_12", "cmdSet_9", "4800", sent("01 06 0A 12 12 C0")},
        {"txtValue_12", "cmdSet_9", "9600", sent("01 06 0A 12 25 80")},
        {"txtValue_12", "cmdSet_9", "19200", sent("01 06 0A 12 4B 00")},
        {"txtValue_12", "cmdSet_9", "38400", sent("01 06 0A 12 96 00")},
        {"txtValue_12", "cmdSet_9", "9600.00", sent("01 06 0A 12 25 80")},
        {"txtValue_12", "cmdSet_9", " +9600 ", sent("01 06 0A 12 25 80")},
    };
    // A fraction too small for a double: still below zero, so it rounds down to -1.
    const QString belowZero = "-0." + repeated('0', 400) + "1";
    b.push_back({"txtStationID", "comDoOnce", belowZero, refused(badStation)});
    b.push_back({"txtStationID", "tick", belowZero, refused(badStation)});
    b.push_back({"txtStartID", "comDoOnce", belowZero, refused(badStart)});
    b.push_back({"txtStartID", "tick", belowZero, refused(badStart)});
    b.push_back({"txtStationID", "cmdSet_2", belowZero, sent("00 06 0A 04 07 D0")});
    b.push_back({"txtSetID_0", "cmdChangeID", belowZero, refused(addressRange)});
    // Register values scale in single precision, where it is zero.
    b.push_back({"txtValue_5", "cmdSet_2", belowZero, sent("01 06 0A 04 00 00")});

    for (const char *neighbour :
         {"2399", "2401", "4799", "4801", "9599", "9601", "9600.01", "19199", "19201", "38399",
          "38401", "1200", "57600", "115200", "0", "-2400", "-9600"})
        b.push_back({"txtValue_12", "cmdSet_9", neighbour, refused(baudRange)});

    // Word limits of the hundredths rows 5 to 8 and the plain rows.
    const struct
    {
        const char *box, *button, *address;
    } hundredths[] = {{"txtValue_5", "cmdSet_2", "0A 04"},
                      {"txtValue_6", "cmdSet_3", "0A 06"},
                      {"txtValue_7", "cmdSet_4", "0A 08"},
                      {"txtValue_8", "cmdSet_5", "0A 0A"}},
      plain[] = {{"txtValue_9", "cmdSet_6", "0A 0C"},
                 {"txtValue_10", "cmdSet_7", "0A 0E"},
                 {"txtValue_11", "cmdSet_8", "0A 10"},
                 {"txtValue_13", "cmdSet_10", "0A 14"},
                 {"txtValue_14", "cmdSet_11", "0A 16"}};
    auto payload = [](const char *address, const char *word) {
        return sent((QByteArray("01 06 ") + address + " " + word).constData());
    };
    for (const auto &r : hundredths) {
        b.push_back({r.box, r.button, "655.35", payload(r.address, "FF FF")});
        b.push_back({r.box, r.button, "655.36", refused(hundredthsWordRange)});
        b.push_back({r.box, r.button, "-655.35", payload(r.address, "00 00")});
        b.push_back({r.box, r.button, "-655.36", refused(hundredthsWordRange)});
        b.push_back({r.box, r.button, "-0.01", payload(r.address, "FF FE")});
    }
    for (const auto &r : plain) {
        b.push_back({r.box, r.button, "65535", payload(r.address, "FF FF")});
        b.push_back({r.box, r.button, "65535.4", payload(r.address, "FF FF")});
        b.push_back({r.box, r.button, "65535.5", refused(integerWordRange)});
        b.push_back({r.box, r.button, "65536", refused(integerWordRange)});
        b.push_back({r.box, r.button, "-65535", payload(r.address, "00 00")});
        b.push_back({r.box, r.button, "-65536", refused(integerWordRange)});
        b.push_back({r.box, r.button, "2.5", payload(r.address, "00 02")});
        b.push_back({r.box, r.button, "-1", payload(r.address, "FF FE")});
    }
    return b;
}

// Everything a refused request must leave as it was.
struct Snapshot
{
    QStringList boxes;
    QString cycles, receptions, command, received, uploadLog, lamp;
    std::int32_t recvCount;
    std::int16_t cmdType, recLength;
    bool loopOn, timerActive, open;
    int interval, rThreshold;

    explicit Snapshot(const WindowHarness &h)
    {
        for (const QLineEdit *e : h.window->findChildren<QLineEdit *>())
            boxes << e->objectName() + QLatin1Char('=') + e->text();
        cycles = h.text("lblCounter");
        receptions = h.text("lblErrCounter");
        command = h.text("txtCommand");
        received = h.text("txtState");
        uploadLog = h.text("txtUp");
        lamp = h.window->frontLamp();
        recvCount = h.state().RecvCount;
        cmdType = h.state().CmdType;
        recLength = h.state().RecLength;
        loopOn = h.state().LoopOn;
        timerActive = h.window->pollTimer()->isActive();
        interval = h.window->pollTimer()->interval();
        open = h.link->isOpen();
        rThreshold = h.link->rThreshold();
    }
    bool operator==(const Snapshot &o) const
    {
        return boxes == o.boxes && cycles == o.cycles && receptions == o.receptions &&
               command == o.command && received == o.received && uploadLog == o.uploadLog &&
               lamp == o.lamp && recvCount == o.recvCount && cmdType == o.cmdType &&
               recLength == o.recLength && loopOn == o.loopOn && timerActive == o.timerActive &&
               open == o.open && interval == o.interval && rThreshold == o.rThreshold;
    }
};

bool typeable(const QString &text)
{
    if (text.size() > 40)
        return false;
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return false;
    }
    return true;
}

// Short printable texts are typed key by key; the rest are set as a paste would.
void enter(WindowHarness &h, const std::string &box, const QString &text)
{
    auto *e = h.find<QLineEdit>(QString::fromStdString(box));
    if (typeable(text))
        h.type(QString::fromStdString(box), text);
    else
        e->setText(text);
}

QString traceOf(const QByteArray &frame)
{
    QString t;
    for (char b : frame)
        t += QStringLiteral("%1 ").arg(std::uint8_t(b), 2, 16, QLatin1Char('0')).toUpper();
    return t;
}

bool isRead(const std::string &trigger)
{
    return trigger == "comDoOnce" || trigger == "tick";
}

// The start-up texts of the boxes the requests read.
const std::pair<const char *, const char *> startUpTexts[] = {
    {"txtStationID", "1"},   {"txtFunID", "3"},   {"txtStartID", "0"}, {"txtDataLength", "15"},
    {"txtTimerSet", "1000"}, {"txtSetID_0", "1"}, {"txtSetID_1", "1"}};

// Runs one request on a window that has run the target's earlier cases (a
// fresh window per case would cost most of the run) and checks it.
void check(WindowHarness &h, const Target &t, const QString &text, const Outcome &expected,
           const std::string &name)
{
    SCOPED_TRACE(t.box + " / " + t.trigger + " / " + name);
    h.window->pollTimer()->stop();
    for (const auto &[box, value] : startUpTexts)
        h.find<QLineEdit>(box)->setText(value);
    for (const auto &[box, value] : t.setup)
        h.find<QLineEdit>(box)->setText(value);
    // Distinct counters and old traces, so any counting or clearing shows.
    h.find<QLabel>("lblCounter")->setText("7");
    h.find<QPlainTextEdit>("txtState")->setPlainText("old reply");
    h.find<QPlainTextEdit>("txtCommand")->setPlainText("old request");
    enter(h, t.box, text);
    auto *box = h.find<QLineEdit>(QString::fromStdString(t.box));
    const QString entered = box->text();
    ASSERT_TRUE(entered == text || (text.size() > box->maxLength() && text.startsWith(entered)));
    Snapshot before(h);
    h.link->clearCalls();
    h.messages.shown.clear();

    if (t.trigger == "tick")
        h.tick();
    else
        h.click(QString::fromStdString(t.trigger));

    Snapshot after(h);
    switch (expected.kind) {
    case Outcome::Kind::Refused: {
        EXPECT_EQ(h.messages.texts(), QStringList{expected.message});
        EXPECT_TRUE(h.link->calls.isEmpty()) << h.link->calls.join(", ").toStdString();
        if (t.trigger == "cmdOneM") {
            // "循环" restarts both counters before it reads the period box.
            EXPECT_EQ(after.cycles, "1");
            EXPECT_EQ(after.receptions, "1");
            EXPECT_EQ(after.recvCount, 1);
            after.cycles = before.cycles;
            after.receptions = before.receptions;
            after.recvCount = before.recvCount;
        }
        EXPECT_TRUE(after == before);
        break;
    }
    case Outcome::Kind::Sent: {
        EXPECT_TRUE(h.messages.shown.isEmpty()) << h.messages.texts().join(", ").toStdString();
        const QByteArray frame = expected.frame();
        ASSERT_EQ(h.link->written.size(), 1);
        EXPECT_EQ(h.link->written[0].toHex(' '), frame.toHex(' '));
        EXPECT_EQ(h.text("txtCommand"), traceOf(frame));
        EXPECT_EQ(after.cycles, isRead(t.trigger) ? "8" : "7");
        EXPECT_EQ(after.receptions, before.receptions);
        EXPECT_EQ(box->text(), expected.boxAfter.value_or(entered));
        break;
    }
    case Outcome::Kind::Timer:
        EXPECT_TRUE(h.messages.shown.isEmpty()) << h.messages.texts().join(", ").toStdString();
        EXPECT_TRUE(h.link->calls.isEmpty());
        EXPECT_TRUE(h.window->pollTimer()->isActive());
        EXPECT_EQ(h.window->pollTimer()->interval(), expected.interval);
        EXPECT_EQ(after.cycles, "1");
        break;
    }
}

} // namespace

TEST(BadInput, EveryBoxEveryRequest)
{
    const std::vector<Input> inputs = everyBoxInputs();
    const std::vector<Boundary> bounds = boundaries();
    std::size_t boundsRun = 0;
    for (const Target &t : targets()) {
        WindowHarness h;
        for (const Input &in : inputs)
            check(h, t, in.text, t.rule(in.value), in.name);
        for (const Boundary &b : bounds) {
            if (b.box == t.box && b.trigger == t.trigger) {
                check(h, t, b.text, b.expected,
                      b.text.size() > 40 ? b.text.left(12).toStdString() + "..."
                                         : b.text.toStdString());
                ++boundsRun;
            }
        }
    }
    EXPECT_EQ(boundsRun, bounds.size()); // no row names a request the table lacks
}
