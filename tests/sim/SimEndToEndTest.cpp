#include "RawPort.h"
#include "SimProcess.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>
#include <modbus.h>

#include <bitset>
#include <cerrno>
#include <ctime>
#include <memory>

// End-to-end: the real simulator binary on its pseudo-terminal, driven by
// libmodbus as an independent master, or by raw bytes with CRCs worked out apart
// from the simulator.

namespace {

const char *const readFirst = "01 03 00 00 00 01 84 0A";
const char *const firstWord = "01 03 02 09 E6 3F 9E";

// A running simulator with its line open raw; the port stays closed when the
// simulator did not start.
struct Module
{
    explicit Module(const QStringList &arguments) : sim(arguments), port(sim.ptyPath()) {}
    SimProcess sim;
    RawPort port;
};

// --stamp-replies: the benches pair each "SENT <ns>" line with the moment the tool
// shows that reply, so there must be exactly one stamp per reply, taken on the
// same clock, after the request that caused it.
std::int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// SENT values printed before the STATS line that answers a "stats" barrier.
std::vector<std::int64_t> stampsBeforeStats(SimProcess &sim)
{
    sim.command(QStringLiteral("stats"));
    std::vector<std::int64_t> stamps;
    for (QString line = sim.readLine(); !line.isEmpty(); line = sim.readLine()) {
        if (line.startsWith(QLatin1String("STATS ")))
            break;
        if (line.startsWith(QLatin1String("SENT ")))
            stamps.push_back(line.mid(5).toLongLong());
    }
    return stamps;
}

TEST(SimEndToEnd, IndependentMasterReadsAllRegistersAndGetsExceptions)
{
    SimProcess sim({"--fixed", "--set", "0=64935", "--set", "1=5000"});
    ASSERT_TRUE(sim.ready());
    // libmodbus checks the framing and CRC of every reply on its own.
    const std::unique_ptr<modbus_t, void (*)(modbus_t *)> master(
        modbus_new_rtu(sim.ptyPath().toLocal8Bit().constData(), 9600, 'N', 8, 1),
        [](modbus_t *ctx) {
            modbus_close(ctx);
            modbus_free(ctx);
        });
    ASSERT_TRUE(master);
    modbus_set_slave(master.get(), 1);
    ASSERT_EQ(modbus_connect(master.get()), 0) << modbus_strerror(errno);
    std::vector<std::uint16_t> words(15);
    ASSERT_EQ(modbus_read_registers(master.get(), 0, 15, words.data()), 15)
        << modbus_strerror(errno);
    EXPECT_EQ(words, (std::vector<std::uint16_t>{64935, 5000, 0, 0, 0, 5000, 64535, 9000, 1000, 1,
                                                 2, 5, 9600, 1, 1}));
    EXPECT_EQ(modbus_read_registers(master.get(), 14, 2, words.data()), -1);
    EXPECT_EQ(errno, EMBXILADD);
    EXPECT_EQ(modbus_write_register(master.get(), 0x0A10, 0), -1);
    EXPECT_EQ(errno, EMBXILVAL);
    // The line stays usable after exceptions.
    ASSERT_EQ(modbus_read_registers(master.get(), 14, 1, words.data()), 1)
        << modbus_strerror(errno);
    EXPECT_EQ(words[0], 1);
}

TEST(SimEndToEnd, AnswersItsOwnAndTheQueryAddressOnlyAndCountsTheRest)
{
    Module m({"--fixed", "--address", "37", "--model", "KB4420P"});
    ASSERT_TRUE(m.port.isOpen());
    EXPECT_EQ(m.port.ask(readFirst, 1, 200), ""); // station 1 is another module here
    EXPECT_EQ(m.port.ask("25 03 00 00 00 01 82 EF", 1, 200), ""); // bad CRC
    const char *const query = "FA 03 00 00 00 01 91 81";
    EXPECT_EQ(m.port.ask(query, 7), "25 03 02 09 E6 4F 99");
    EXPECT_EQ(m.port.ask("25 26 00 00 00 05 CE EA", 17, 500),
              "25 26 0B 4B 42 34 34 32 30 50 20 20 20 20 6F 69");
    m.sim.command("silent on");
    m.sim.stats();
    EXPECT_EQ(m.port.ask(query, 1, 200), "");
    m.sim.command("silent off");
    m.sim.stats();
    EXPECT_EQ(m.port.ask(query, 7), "25 03 02 09 E6 4F 99");
    const SimProcess::Stats stats = m.sim.stats();
    EXPECT_EQ(stats.requests, 6);
    EXPECT_EQ(stats.replies, 3);
    EXPECT_EQ(stats.ignored, 3);
}

struct ShapeCase
{
    const char *name;
    QStringList arguments;
    bool answered;
    bool stamped;
};

class ShapedReplies : public ::testing::TestWithParam<ShapeCase>
{
};

// However a reply is cut and timed, it arrives whole, with one stamp after its request.
TEST_P(ShapedReplies, ArriveWholeWithOneStampEach)
{
    Module m(QStringList{"--fixed", "--seed", "3"} + GetParam().arguments);
    ASSERT_TRUE(m.port.isOpen());
    const char *const allWords = "01 03 1E 09 E6 19 78 00 00 00 00 00 00 13 88 FC 17 23 28 03 E8 "
                                 "00 01 00 02 00 05 25 80 00 01 00 01 A2 3F";
    std::vector<std::int64_t> requestTimes;
    for (int round = 0; round < 3; ++round) {
        requestTimes.push_back(monotonicNs());
        EXPECT_EQ(m.port.ask("01 03 00 00 00 0F 05 CE", 35, GetParam().answered ? 2000 : 300),
                  GetParam().answered ? allWords : "")
            << round;
    }
    const std::vector<std::int64_t> stamps = stampsBeforeStats(m.sim);
    ASSERT_EQ(stamps.size(), GetParam().stamped ? 3u : 0u);
    // Same clock as ours: a stamp can only follow the request it answers.
    for (std::size_t i = 0; i < stamps.size(); ++i)
        EXPECT_GE(stamps[i], requestTimes[i]) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ShapedReplies,
    ::testing::Values(
        ShapeCase{"whole", {"--stamp-replies"}, true, true},
        // Several writes per reply still make one stamp, after the last piece.
        ShapeCase{"split", {"--stamp-replies", "--split", "3", "--split-gap", "2"}, true, true},
        ShapeCase{"paced", {"--stamp-replies", "--pace", "19200"}, true, true},
        ShapeCase{"pacedSplit",
                  {"--stamp-replies", "--pace", "9600", "--split", "4", "--split-gap", "1"},
                  true,
                  true},
        ShapeCase{
            "random", {"--stamp-replies", "--random-split", "--random-gap-max", "3"}, true, true},
        ShapeCase{"delayed", {"--stamp-replies", "--reply-delay", "20"}, true, true},
        ShapeCase{"unstamped", {}, true, false},
        ShapeCase{"unanswered", {"--stamp-replies", "--address", "2"}, false, false}),
    [](const ::testing::TestParamInfo<ShapeCase> &info) { return info.param.name; });

TEST(SimEndToEnd, FlippedAndDuplicatedRepliesReachTheLine)
{
    Module m({"--fixed", "--seed", "9", "--flip-every", "2", "--duplicate-every", "1"});
    ASSERT_TRUE(m.port.isOpen());
    EXPECT_EQ(m.port.ask(readFirst, 14), std::string(firstWord) + " " + firstWord);
    ASSERT_TRUE(m.port.write(readFirst));
    const std::string sent = m.port.read(14, 2000);
    ASSERT_EQ(sent.size(), 14u);
    EXPECT_EQ(sent.substr(0, 7), sent.substr(7));
    const std::vector<std::uint8_t> good = hexBytes(firstWord);
    std::size_t flipped = 0;
    for (std::size_t i = 0; i < good.size(); ++i)
        flipped += std::bitset<8>(static_cast<std::uint8_t>(sent[i]) ^ good[i]).count();
    EXPECT_EQ(flipped, 1u);
}

TEST(SimEndToEnd, FloodFillsTheLineIsReportedThenTheModuleAnswersAgain)
{
    Module m({"--fixed"});
    ASSERT_TRUE(m.port.isOpen());
    // One exchange first, so the simulator has seen the line open.
    ASSERT_EQ(m.port.ask(readFirst, 7), firstWord);
    m.sim.command("flood 0.3");
    const QString report = m.sim.readLine(5000);
    static const QRegularExpression pattern(QStringLiteral("^FLOOD bytes=(\\d+) ms=(\\d+)$"));
    const auto match = pattern.match(report);
    ASSERT_TRUE(match.hasMatch()) << report.toStdString();
    // Nobody drained the line, so the volume is at least what the pseudo-terminal holds.
    EXPECT_GT(m.port.pendingBytes(), 1000);
    EXPECT_GE(match.captured(1).toLongLong(), m.port.pendingBytes());
    EXPECT_GE(match.captured(2).toLongLong(), 300);
    m.port.discardPending();
    EXPECT_EQ(m.port.ask(readFirst, 7), firstWord);
}

TEST(SimEndToEnd, SetAtRuntimeIsReadBackAndListed)
{
    Module m({"--fixed"});
    ASSERT_TRUE(m.port.isOpen());
    m.sim.command("set 0=64405");
    m.sim.command("set 2=1"); // refused: the alarm follows the readings
    m.sim.command("regs");
    // -11.34 is under the lower limit, so the alarm state moved with it.
    EXPECT_EQ(m.sim.readLine(), "REGS 64405 6520 1 0 0 5000 64535 9000 1000 1 2 5 9600 1 1");
    EXPECT_EQ(m.port.ask("01 03 00 00 00 03 05 CB", 11), "01 03 06 FB 95 19 78 00 01 7E 66");
}

TEST(SimEndToEnd, NoiseComesAndGoes)
{
    Module m({"--fixed", "--seed", "3", "--noise"});
    ASSERT_TRUE(m.port.isOpen());
    EXPECT_FALSE(m.port.read(8, 3000).empty());
    m.sim.command("noise off");
    m.sim.stats();
    QThread::msleep(50);
    m.port.discardPending();
    EXPECT_EQ(m.port.readHex(1, 500), "");
}

TEST(SimEndToEnd, UploadRecordsComeWholeUnstampedAndWithoutBacklog)
{
    SimProcess sim(
        {"--fixed", "--stamp-replies", "--set", "0=64405", "--set", "1=4550", "--upload-ms", "20"});
    ASSERT_TRUE(sim.ready());
    const std::string record = "[-11.3,045.5]";
    for (int open = 0; open < 2; ++open) {
        QThread::msleep(300);
        RawPort port(sim.ptyPath());
        ASSERT_TRUE(port.isOpen());
        // At most one record can slip in between our open and the read.
        EXPECT_LE(port.available().size(), record.size()) << open;
        EXPECT_EQ(port.read(3 * record.size(), 3000).substr(0, 3 * record.size()),
                  record + record + record)
            << open;
    }
    EXPECT_TRUE(stampsBeforeStats(sim).empty()); // records are no replies
    EXPECT_GE(sim.stats().uploads, 6);
}

TEST(SimEndToEnd, IntervalRegisterSetsTheUploadPaceInSeconds)
{
    Module m({"--fixed", "--upload", "--set", "11=3600"});
    ASSERT_TRUE(m.port.isOpen());
    EXPECT_EQ(m.port.ask("01 06 0A 10 00 01 4A 17", 8), "01 06 0A 10 00 01 4A 17");
    EXPECT_EQ(m.port.read(26, 5000), "[025.3,065.2][025.3,065.2]");
}

TEST(SimEndToEnd, DropAndRestoreFollowTheLink)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString link = dir.filePath("kc-line");
    SimProcess sim({"--fixed", "--link", link});
    ASSERT_TRUE(sim.ready());
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), sim.ptyPath());
    EXPECT_EQ(RawPort(link).ask(readFirst, 7), firstWord);

    sim.command("drop");
    sim.stats();
    // Gone like a pulled adapter's stable name, so it cannot lead to another pty.
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_FALSE(RawPort(link).isOpen());

    sim.command("restore");
    const QString announced = sim.readLine();
    ASSERT_TRUE(announced.startsWith("PTY ")) << announced.toStdString();
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), announced.mid(4));
    EXPECT_EQ(RawPort(link).ask("01 03 00 01 00 01 D5 CA", 7), "01 03 02 19 78 B3 F6");

    EXPECT_EQ(sim.quit(), 0);
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    const QStringList tail = sim.remainingOutput();
    ASSERT_FALSE(tail.isEmpty());
    EXPECT_TRUE(tail.last().startsWith("STATS requests=2 replies=2")) << tail.last().toStdString();
}

TEST(SimEndToEnd, RefusesToReplaceARegularFileWithTheLink)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(dir.filePath("notes.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("keep me");
    file.close();
    QProcess process;
    process.start(SimProcess::program(), {"--link", file.fileName()});
    ASSERT_TRUE(process.waitForFinished(5000));
    EXPECT_NE(process.exitCode(), 0);
    ASSERT_FALSE(QFileInfo(file.fileName()).isSymLink());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "keep me");
}

TEST(SimEndToEnd, HelpAndBadOptionsExitAsExpected)
{
    QProcess help;
    help.start(SimProcess::program(), {"--help"});
    ASSERT_TRUE(help.waitForFinished(5000));
    EXPECT_EQ(help.exitCode(), 0);
    EXPECT_TRUE(help.readAllStandardOutput().contains("--upload-ms"));

    QProcess bad;
    bad.start(SimProcess::program(), {"--address", "300"});
    ASSERT_TRUE(bad.waitForFinished(5000));
    EXPECT_EQ(bad.exitCode(), 2);
    EXPECT_TRUE(bad.readAllStandardOutput().isEmpty());
}

TEST(SimEndToEnd, StopsOnSigterm)
{
    QProcess process;
    process.start(SimProcess::program(), {"--fixed"});
    ASSERT_TRUE(process.waitForReadyRead(5000));
    process.terminate();
    ASSERT_TRUE(process.waitForFinished(5000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_TRUE(process.readAllStandardOutput().contains("STATS requests=0"));
}

} // namespace
