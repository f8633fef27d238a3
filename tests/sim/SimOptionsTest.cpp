#include "SimOptions.h"
#include "ControlCommand.h"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

namespace {

using kcsim::CommandKind;

// Arguments are separated by single spaces; "--link=" passes an empty value.
kcsim::ParseResult parse(const std::string &line)
{
    std::vector<std::string> args{"kc4420-sim"};
    std::istringstream stream(line);
    for (std::string arg; std::getline(stream, arg, ' ');)
        args.push_back(arg);
    return kcsim::parseOptions(args);
}

TEST(SimOptions, ValuesLandConvertedAndASecondParseStartsAfresh)
{
    ASSERT_EQ(parse("--address 5 --fixed").error, "");
    const auto result = parse("--address 17 --set 0=65000 --set=11=60 --seed 4000000000 "
                              "--frame-gap 2.5 --split-gap 1.5 --random-gap-max 7 --upload-ms 250");
    ASSERT_EQ(result.error, "");
    const kcsim::SimOptions &o = result.options;
    EXPECT_EQ(o.address, 17);
    EXPECT_EQ(o.initialWords, (std::vector<std::pair<int, std::uint16_t>>{{0, 65000}, {11, 60}}));
    EXPECT_EQ(o.seed, 4000000000u);
    EXPECT_DOUBLE_EQ(o.frameGapMs, 2.5);
    EXPECT_EQ(o.shape.splitGapNs, 1'500'000);
    EXPECT_EQ(o.shape.randomGapMaxNs, 7'000'000);
    EXPECT_TRUE(o.upload);
    EXPECT_DOUBLE_EQ(o.uploadMs, 250);
}

TEST(SimOptions, BadArgumentsAreRejected)
{
    for (const char *line :
         {"--address 0", "--address 251", "--address 1x", "--address", "--bogus", "stray",
          "--set 15=1", "--set 0=65536", "--set 0", "--set 2=1", "--reply-delay -1",
          "--reply-delay nan", "--model bad\ttext", "--link="})
        EXPECT_NE(parse(line).error, "") << line;
}

TEST(ControlCommand, AcceptedLines)
{
    // What a line sets: kind, on (silent/noise), seconds (flood), index and word (set).
    using Fields = std::tuple<CommandKind, bool, double, int, int>;
    const std::pair<const char *, Fields> cases[] = {
        {"  restore\r", {CommandKind::Restore, false, 0, -1, 0}},
        {"regs", {CommandKind::Registers, false, 0, -1, 0}},
        {"silent off", {CommandKind::Silent, false, 0, -1, 0}},
        {"noise on", {CommandKind::Noise, true, 0, -1, 0}},
        {"flood 2.5", {CommandKind::Flood, false, 2.5, -1, 0}},
        {"set 0=64405", {CommandKind::Set, false, 0, 0, 64405}},
        {"set 14=2", {CommandKind::Set, false, 0, 14, 2}},
        {"   ", {CommandKind::Empty, false, 0, -1, 0}}};
    for (const auto &[line, fields] : cases) {
        const auto c = kcsim::parseControlCommand(line);
        EXPECT_EQ(Fields(c.kind, c.on, c.seconds, c.index, c.word), fields) << line;
        EXPECT_EQ(c.problem, "") << line;
    }
}

TEST(ControlCommand, RefusedLinesSayWhy)
{
    // "set" takes only words the module itself would take.
    for (const char *line : {"regs all", "silent", "silent maybe", "flood", "flood -1", "flood 3s",
                             "reboot", "set 2=1", "set 15=1", "set -1=1", "set 0=65536", "set 0=-1",
                             "set 0=", "set =5", "set 0", "set 0=5 1=6", "set 0=5x", "set"}) {
        const auto command = kcsim::parseControlCommand(line);
        EXPECT_EQ(command.kind, CommandKind::Invalid) << line;
        EXPECT_NE(command.problem, "") << line;
    }
}

TEST(ControlCommand, FloodReportIsInWholeMilliseconds)
{
    EXPECT_EQ(kcsim::formatFloodReport(123456789, 60'000'999'999),
              "FLOOD bytes=123456789 ms=60000");
}

} // namespace
