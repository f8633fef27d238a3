#include "SimOptions.h"
#include "ControlCommand.h"

#include <gtest/gtest.h>

namespace {

using kcsim::parseOptions;

kcsim::ParseResult parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "kc4420-sim");
    return parseOptions(args);
}

TEST(SimOptions, DefaultsWithoutArguments)
{
    const auto result = parse({});
    ASSERT_EQ(result.error, "");
    EXPECT_EQ(result.options.address, 1);
    EXPECT_EQ(result.options.model, "KC4420P-V12");
    EXPECT_FALSE(result.options.fixed);
    EXPECT_FALSE(result.options.upload);
    EXPECT_FALSE(result.options.control);
    EXPECT_EQ(result.options.shape.paceBaud, 0);
}

TEST(SimOptions, EveryOptionLands)
{
    const auto result = parse({"--address",
                               "17",
                               "--device",
                               "/dev/ttyS9",
                               "--link",
                               "/tmp/kc",
                               "--model",
                               "KA4420P",
                               "--fixed",
                               "--set",
                               "0=65000",
                               "--set=11=60",
                               "--seed",
                               "4000000000",
                               "--frame-gap",
                               "2.5",
                               "--reply-delay",
                               "40",
                               "--split",
                               "3",
                               "--split-gap",
                               "1.5",
                               "--random-split",
                               "--random-gap-max",
                               "7",
                               "--pace",
                               "19200",
                               "--noise",
                               "--flip-every",
                               "4",
                               "--duplicate-every",
                               "5",
                               "--silent",
                               "--flood",
                               "0.5",
                               "--upload-ms",
                               "250",
                               "--control"});
    ASSERT_EQ(result.error, "");
    const kcsim::SimOptions &o = result.options;
    EXPECT_EQ(o.address, 17);
    EXPECT_EQ(o.device, "/dev/ttyS9");
    EXPECT_EQ(o.link, "/tmp/kc");
    EXPECT_EQ(o.model, "KA4420P");
    EXPECT_TRUE(o.fixed);
    using Word = std::pair<int, std::uint16_t>;
    EXPECT_EQ(o.initialWords, (std::vector<Word>{{0, 65000}, {11, 60}}));
    EXPECT_TRUE(o.seedGiven);
    EXPECT_EQ(o.seed, 4000000000u);
    EXPECT_DOUBLE_EQ(o.frameGapMs, 2.5);
    EXPECT_DOUBLE_EQ(o.replyDelayMs, 40);
    EXPECT_EQ(o.shape.splitBytes, 3);
    EXPECT_EQ(o.shape.splitGapNs, 1'500'000);
    EXPECT_TRUE(o.shape.randomSplit);
    EXPECT_EQ(o.shape.randomGapMaxNs, 7'000'000);
    EXPECT_EQ(o.shape.paceBaud, 19200);
    EXPECT_TRUE(o.noise);
    EXPECT_EQ(o.shape.flipEvery, 4);
    EXPECT_EQ(o.shape.duplicateEvery, 5);
    EXPECT_TRUE(o.silent);
    EXPECT_DOUBLE_EQ(o.floodSeconds, 0.5);
    EXPECT_TRUE(o.upload);
    EXPECT_DOUBLE_EQ(o.uploadMs, 250);
    EXPECT_TRUE(o.control);
}

TEST(SimOptions, UploadWithoutMillisecondsUsesTheRegister)
{
    const auto result = parse({"--upload"});
    ASSERT_EQ(result.error, "");
    EXPECT_TRUE(result.options.upload);
    EXPECT_EQ(result.options.uploadMs, 0);
}

TEST(SimOptions, ParsingTwiceStartsAfresh)
{
    ASSERT_EQ(parse({"--address", "5", "--fixed"}).error, "");
    const auto again = parse({"--address", "6"});
    ASSERT_EQ(again.error, "");
    EXPECT_EQ(again.options.address, 6);
    EXPECT_FALSE(again.options.fixed);
}

class RejectedArguments : public ::testing::TestWithParam<std::vector<std::string>>
{
};

TEST_P(RejectedArguments, ReportAnError)
{
    EXPECT_NE(parse(GetParam()).error, "");
}

INSTANTIATE_TEST_SUITE_P(
    Bad, RejectedArguments,
    ::testing::Values(
        std::vector<std::string>{"--address", "0"}, std::vector<std::string>{"--address", "251"},
        std::vector<std::string>{"--address", "1x"}, std::vector<std::string>{"--address"},
        std::vector<std::string>{"--bogus"}, std::vector<std::string>{"stray"},
        std::vector<std::string>{"--set", "15=1"}, std::vector<std::string>{"--set", "0=65536"},
        std::vector<std::string>{"--set", "0"}, std::vector<std::string>{"--set", "2=1"},
        std::vector<std::string>{"--set", "11=0"}, std::vector<std::string>{"--set", "12=1200"},
        std::vector<std::string>{"--split", "0"}, std::vector<std::string>{"--reply-delay", "-1"},
        std::vector<std::string>{"--reply-delay", "nan"},
        std::vector<std::string>{"--upload-ms", "0"}, std::vector<std::string>{"--flood", "0"},
        std::vector<std::string>{"--flip-every", "0"}, std::vector<std::string>{"--pace", "10"},
        std::vector<std::string>{"--model", "bad\ttext"}, std::vector<std::string>{"--seed", "-1"},
        std::vector<std::string>{"--link", ""}));

TEST(SimOptions, HelpNamesEveryOption)
{
    const std::string help = kcsim::helpText("kc4420-sim");
    for (const char *name : {"--address",         "--device",  "--link",      "--model",
                             "--fixed",           "--set",     "--seed",      "--frame-gap",
                             "--reply-delay",     "--split",   "--split-gap", "--random-split",
                             "--random-gap-max",  "--pace",    "--noise",     "--flip-every",
                             "--duplicate-every", "--silent",  "--flood",     "--upload",
                             "--upload-ms",       "--control", "--help"})
        EXPECT_NE(help.find(name), std::string::npos) << name;
}

struct CommandCase
{
    const char *line;
    kcsim::CommandKind kind;
    bool on;
    double seconds;
};

class ControlLines : public ::testing::TestWithParam<CommandCase>
{
};

TEST_P(ControlLines, Parse)
{
    const auto command = kcsim::parseControlCommand(GetParam().line);
    EXPECT_EQ(command.kind, GetParam().kind);
    EXPECT_EQ(command.on, GetParam().on);
    EXPECT_DOUBLE_EQ(command.seconds, GetParam().seconds);
    EXPECT_EQ(command.problem.empty(), command.kind != kcsim::CommandKind::Invalid);
}

using kcsim::CommandKind;
INSTANTIATE_TEST_SUITE_P(
    Lines, ControlLines,
    ::testing::Values(CommandCase{"drop", CommandKind::Drop, false, 0},
                      CommandCase{"  restore\r", CommandKind::Restore, false, 0},
                      CommandCase{"silent on", CommandKind::Silent, true, 0},
                      CommandCase{"silent off", CommandKind::Silent, false, 0},
                      CommandCase{"noise on", CommandKind::Noise, true, 0},
                      CommandCase{"flood 2.5", CommandKind::Flood, false, 2.5},
                      CommandCase{"stats", CommandKind::Stats, false, 0},
                      CommandCase{"regs", CommandKind::Registers, false, 0},
                      CommandCase{"regs all", CommandKind::Invalid, false, 0},
                      CommandCase{"quit", CommandKind::Quit, false, 0},
                      CommandCase{"", CommandKind::Empty, false, 0},
                      CommandCase{"   ", CommandKind::Empty, false, 0},
                      CommandCase{"silent", CommandKind::Invalid, false, 0},
                      CommandCase{"silent maybe", CommandKind::Invalid, false, 0},
                      CommandCase{"flood", CommandKind::Invalid, false, 0},
                      CommandCase{"flood -1", CommandKind::Invalid, false, 0},
                      CommandCase{"flood 3s", CommandKind::Invalid, false, 0},
                      CommandCase{"drop now", CommandKind::Invalid, false, 0},
                      CommandCase{"reboot", CommandKind::Invalid, false, 0}));

struct SetCase
{
    const char *line;
    bool valid;
    int index;
    int word;
};

TEST(ControlCommand, SetTakesWhatTheModuleTakes)
{
    const SetCase cases[] = {
        {"set 0=64405", true, 0, 64405}, {"set 14=2", true, 14, 2},
        {"set 11=3600", true, 11, 3600}, {"set 12=19200", true, 12, 19200},
        {"set 3=65535", true, 3, 65535}, {"set 2=1", false, -1, 0},
        {"set 11=0", false, -1, 0},      {"set 12=38400", false, -1, 0},
        {"set 13=3", false, -1, 0},      {"set 15=1", false, -1, 0},
        {"set -1=1", false, -1, 0},      {"set 0=65536", false, -1, 0},
        {"set 0=-1", false, -1, 0},      {"set 0=", false, -1, 0},
        {"set =5", false, -1, 0},        {"set 0", false, -1, 0},
        {"set 0=5 1=6", false, -1, 0},   {"set 0=5x", false, -1, 0},
        {"set", false, -1, 0},
    };
    for (const auto &c : cases) {
        const auto command = kcsim::parseControlCommand(c.line);
        EXPECT_EQ(command.kind, c.valid ? CommandKind::Set : CommandKind::Invalid) << c.line;
        EXPECT_EQ(command.problem.empty(), c.valid) << c.line;
        EXPECT_EQ(command.index, c.index) << c.line;
        EXPECT_EQ(command.word, c.word) << c.line;
    }
}

TEST(ControlCommand, RegistersAndFloodLineFormats)
{
    EXPECT_EQ(kcsim::formatRegisters({2534, 65535, 0}), "REGS 2534 65535 0");
    EXPECT_EQ(kcsim::formatFloodReport(123456789, 60'000'999'999),
              "FLOOD bytes=123456789 ms=60000");
    EXPECT_EQ(kcsim::formatFloodReport(0, 0), "FLOOD bytes=0 ms=0");
}

TEST(ControlCommand, StatsLineFormat)
{
    kcsim::Stats stats;
    stats.requests = 12;
    stats.replies = 9;
    stats.ignored = 3;
    stats.uploads = 40;
    EXPECT_EQ(kcsim::formatStats(stats), "STATS requests=12 replies=9 ignored=3 uploads=40");
}

} // namespace
