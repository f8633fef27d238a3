#include "operations/Requests.h"
#include "protocol/FrameCodec.h"

#include <gtest/gtest.h>

using namespace kc;

namespace {

QString traceOf(const Planned &p)
{
    if (const auto *request = std::get_if<Request>(&p))
        return sentTrace(request->frame()).trimmed();
    return QStringLiteral("MSG ") + std::get<UserMessage>(p).text;
}

} // namespace

TEST(RegisterReadPlan, FramesAndMessages)
{
    auto m = [](const QString &t) { return QStringLiteral("MSG ") + t; };
    // Boxes, then the trace sent or the message. One row of each message
    // spells it out, so a changed character shows.
    const std::pair<ReadBoxes, QString> cases[] = {
        {{"1", "3", "0", "15"}, "01 03 00 00 00 0F 05 CE"},
        {{"2", "3", "0", "11"}, "02 03 00 00 00 0B 04 3E"},
        {{"1", "3", "0", "10"}, "01 03 00 00 00 0A C5 CD"},
        {{"1", "3", "0", "15.9"}, "01 03 00 00 00 0F 05 CE"},
        {{"2.9", "3", "0", "11"}, "02 03 00 00 00 0B 04 3E"},
        {{"1", "3.5", "0", "1"}, "01 04 00 00 00 01 31 CA"},
        {{"255", "4.4", "255", "1"}, "FF 04 00 FF 00 01 14 24"},
        {{"0", "3", "0", "1"}, "00 03 00 00 00 01 85 DB"},
        // Only the read functions: anything else would write on every tick.
        {{"1", "2.5", "0", "1"}, m("你输入的功能码格式有误!")},
        {{"1", "6", "0", "1"}, m(msg::badFunction)},
        {{"1", "-0.5", "0", "1"}, m(msg::badFunction)},
        {{"abc", "3", "0", "15"}, m(msg::badStation)},
        {{"256", "3", "0", "15"}, m(msg::badStation)},
        {{"-1", "3", "0", "15"}, m(msg::badStation)},
        {{"-0.5", "3", "0", "15"}, m(msg::badStation)},
        {{"1", "x", "0", "15"}, m(msg::badFunction)},
        {{"1", "255.5", "0", "15"}, m(msg::badFunction)},
        {{"1", "3", "0", "abc"}, m("你输入的数据长度格式有误!")},
        {{"1", "3", "x", "15"}, m("你输入的起始地址格式有误!")},
        {{"1", "3", "256", "15"}, m(msg::badStart)},
        {{"1", "3", "0", "16"}, m(msg::lengthRange)},
        {{"1", "3", "0", "0"}, m(msg::lengthRange)},
        {{"1", "3", "0", "0.9"}, m(msg::lengthRange)},
        // The first failing box decides the message.
        {{"x", "x", "x", "x"}, m(msg::badStation)},
        {{"1", "3", "x", "x"}, m(msg::badLength)},
        {{"1", "3", "x", "99"}, m(msg::badStart)},
    };
    for (const auto &[boxes, expected] : cases)
        EXPECT_EQ(traceOf(planRegisterRead(boxes)), expected)
            << boxes.station.toStdString() << "/" << boxes.function.toStdString() << "/"
            << boxes.start.toStdString() << "/" << boxes.count.toStdString();
    // A request is numbers: the tools build the same one the boxes give.
    EXPECT_EQ(std::get<Request>(planRegisterRead({"1", "3", "7.9", "2"})),
              Request::registerRead(1, 7, 2));
    EXPECT_EQ(Request::registerRead(1, 0, 15).replyLength(), 35);
}

TEST(PollingPlan, PeriodBoundsAndMessages)
{
    const std::pair<const char *, int> accepted[] = {{"50", 50},     {"60000", 60000},
                                                     {"1000", 1000}, {"50.5", 50},
                                                     {"51.5", 52},   {"60000.9", 60001}};
    for (const auto &[text, ms] : accepted)
        EXPECT_EQ(std::get<int>(planPolling(QString::fromLatin1(text))), ms) << text;
    const std::pair<const char *, QString> refused[] = {
        {"49", msg::periodRange},  {"49.9", msg::periodRange},    {"60001", msg::periodRange},
        {"-50", msg::periodRange}, {"abc", msg::periodNotNumber}, {"", msg::periodNotNumber}};
    for (const auto &[text, message] : refused)
        EXPECT_EQ(std::get<UserMessage>(planPolling(QString::fromLatin1(text))).text, message)
            << text;
}

TEST(WritePlan, WorkedExamplesAndRefusals)
{
    auto m = [](const QString &t) { return QStringLiteral("MSG ") + t; };
    // The row's button, its value, the station, and the trace or message.
    const std::tuple<int, QString, QString, QString> cases[] = {
        {0, "1.5", "2", "02 06 0A 00 00 96 0A 4F"},  {9, "9600", "2", "02 06 0A 12 25 80 31 14"},
        {0, "-1", "1", "01 06 0A 00 FF 9B 8A 49"},   {0, "", "1", m(msg::valueNotNumber)},
        {0, "10.01", "1", m(msg::calibrationRange)}, {9, "1200", "1", m(msg::baudRange)},
        {8, "70000", "1", m(msg::integerWordRange)}, {0, "1", "abc", m(msg::badStation)},
        {0, "1", "255.5", m(msg::badStation)},       {0, "1", "-1", m(msg::badStation)},
    };
    for (const auto &[button, value, station, expected] : cases)
        EXPECT_EQ(traceOf(planParameterWrite(button, value, station)), expected)
            << button << " " << value.toStdString() << " " << station.toStdString();
    // The station of a write rounds to even, unlike the read's round-down; the
    // last row's address.
    EXPECT_EQ(traceOf(planParameterWrite(11, "0", "2.5")), "02 06 0A 16 00 00 6B E5");
}

TEST(AddressPlans, ReadIsFixedAndChangeIsValidated)
{
    EXPECT_EQ(sentTrace(Request::addressRead().frame()),
              QStringLiteral("FA 03 00 00 00 01 91 81 "));

    auto m = [](const QString &t) { return QStringLiteral("MSG ") + t; };
    const std::tuple<const char *, const char *, QString> cases[] = {
        {"1", "5", "01 06 0B 00 00 05 4B ED"},
        {"2", "1", "02 06 0B 00 00 01 4A 1D"},
        {"251", "10", "FB 06 0B 00 00 0A 1F B3"},
        {"2.9", "7.9", traceOf(Request::addressChange(2, 7))},
        {"255", "250", traceOf(Request::addressChange(255, 250))},
        {"", "", m("你输入的原设备地址格式有误!")},
        {"1", "", m("你输入的目标设备地址格式有误!")},
        {"0", "5", m(msg::addressRange)},
        {"5", "0", m(msg::addressRange)},
        {"0.5", "5", m(msg::addressRange)},
        {"-1", "5", m(msg::addressRange)},
        {"256", "5", m(msg::addressRange)},
        {"1", "251", m(msg::targetAddressRange)},
    };
    for (const auto &[current, target, expected] : cases)
        EXPECT_EQ(
            traceOf(planAddressChange(QString::fromLatin1(current), QString::fromLatin1(target))),
            expected)
            << current << " " << target;
}

TEST(DeviceInfoPlan, FrameAndStationCheck)
{
    EXPECT_EQ(traceOf(planDeviceInfo("1")), "01 26 00 00 00 05 C8 0E");
    EXPECT_EQ(std::get<UserMessage>(planDeviceInfo("x")).text, msg::badStation);
    EXPECT_EQ(std::get<UserMessage>(planDeviceInfo("256")).text, msg::badStation);
    EXPECT_TRUE(Request::uploadListening().frame().isEmpty());
}
