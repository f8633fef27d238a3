#include "SimProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>
#include <modbus.h>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

// End-to-end: the real simulator binary on its pseudo-terminal, driven by
// libmodbus as an independent master, or by raw reads for unframed traffic.

namespace {

const std::vector<std::uint16_t> defaultWords = {2534, 6520, 0, 0, 0,    5000, 64535, 9000,
                                                 1000, 1,    2, 5, 9600, 1,    1};

class Master
{
public:
    Master(const QString &path, int station, int timeoutMs = 1000)
        : m_ctx(modbus_new_rtu(path.toLocal8Bit().constData(), 9600, 'N', 8, 1))
    {
        if (!m_ctx)
            return;
        modbus_set_slave(m_ctx, station);
        setTimeout(timeoutMs);
        m_connected = modbus_connect(m_ctx) == 0;
    }
    ~Master()
    {
        if (m_ctx) {
            if (m_connected)
                modbus_close(m_ctx);
            modbus_free(m_ctx);
        }
    }
    Master(const Master &) = delete;
    Master &operator=(const Master &) = delete;

    bool connected() const { return m_connected; }
    modbus_t *ctx() const { return m_ctx; }

    void setTimeout(int ms)
    {
        modbus_set_response_timeout(m_ctx, static_cast<uint32_t>(ms / 1000),
                                    static_cast<uint32_t>((ms % 1000) * 1000));
    }

    // -1 with errno set on failure, like libmodbus.
    int read(int start, int count, std::vector<std::uint16_t> &words)
    {
        words.assign(static_cast<std::size_t>(count), 0);
        return modbus_read_registers(m_ctx, start, count, words.data());
    }

private:
    modbus_t *m_ctx = nullptr;
    bool m_connected = false;
};

std::string readAvailable(int fd)
{
    std::string data;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        data.append(buffer, static_cast<std::size_t>(n));
    return data;
}

// Reads until at least `count` bytes arrived or the time is up.
std::string readAtLeast(int fd, std::size_t count, int timeoutMs)
{
    std::string data;
    QElapsedTimer timer;
    timer.start();
    while (data.size() < count && timer.elapsed() < timeoutMs) {
        pollfd line{fd, POLLIN, 0};
        if (poll(&line, 1, static_cast<int>(timeoutMs - timer.elapsed())) > 0)
            data += readAvailable(fd);
    }
    return data;
}

// Independent of the simulator's table: bit by bit, over a frame including its CRC.
std::uint16_t bitwiseCrc(const std::string &frame)
{
    std::uint16_t crc = 0xFFFF;
    for (const char c : frame) {
        crc ^= static_cast<unsigned char>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

// The line without any Modbus framing, for upload records and damaged replies.
class RawPort
{
public:
    explicit RawPort(const QString &path)
        : m_fd(::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        termios settings{};
        if (m_fd >= 0 && tcgetattr(m_fd, &settings) == 0) {
            cfmakeraw(&settings);
            tcsetattr(m_fd, TCSANOW, &settings);
        }
    }
    ~RawPort()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RawPort(const RawPort &) = delete;
    RawPort &operator=(const RawPort &) = delete;

    bool isOpen() const { return m_fd >= 0; }

    bool write(const std::vector<std::uint8_t> &bytes)
    {
        return ::write(m_fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    std::string available() { return readAvailable(m_fd); }
    std::string readAtLeast(std::size_t count, int timeoutMs)
    {
        return ::readAtLeast(m_fd, count, timeoutMs);
    }

    int pendingBytes() const
    {
        int count = 0;
        ioctl(m_fd, FIONREAD, &count);
        return count;
    }

    void discardPending() { tcflush(m_fd, TCIFLUSH); }

private:
    int m_fd = -1;
};

std::string bytes(std::initializer_list<int> values)
{
    std::string text;
    for (const int value : values)
        text.push_back(static_cast<char>(value));
    return text;
}

std::vector<std::uint8_t> asVector(const std::string &text)
{
    return {text.begin(), text.end()};
}

std::string repeated(const std::string &text, int times)
{
    std::string result;
    for (int i = 0; i < times; ++i)
        result += text;
    return result;
}

TEST(SimEndToEnd, ReadsAllRegisters)
{
    SimProcess sim({"--fixed", "--set", "0=64935", "--set", "1=5000"});
    ASSERT_TRUE(sim.ready());
    Master master(sim.ptyPath(), 1);
    ASSERT_TRUE(master.connected());
    std::vector<std::uint16_t> words;
    ASSERT_EQ(master.read(0, 15, words), 15) << modbus_strerror(errno);
    std::vector<std::uint16_t> expected = defaultWords;
    expected[0] = 64935;
    expected[1] = 5000;
    EXPECT_EQ(words, expected);
}

TEST(SimEndToEnd, WrittenValuesReadBackUnchanged)
{
    SimProcess sim({"--fixed"});
    ASSERT_TRUE(sim.ready());
    Master master(sim.ptyPath(), 1);
    ASSERT_TRUE(master.connected());
    struct Write
    {
        int index;
        std::uint16_t value;
    };
    const Write writes[] = {{3, 65335}, {6, 63535}, {9, 4}, {11, 600}, {12, 19200}, {14, 2}};
    for (const Write &write : writes)
        ASSERT_EQ(modbus_write_register(master.ctx(), 0x0A00 + 2 * (write.index - 3), write.value),
                  1)
            << "register " << write.index << ": " << modbus_strerror(errno);
    std::vector<std::uint16_t> words;
    ASSERT_EQ(master.read(0, 15, words), 15) << modbus_strerror(errno);
    for (const Write &write : writes)
        EXPECT_EQ(words[static_cast<std::size_t>(write.index)], write.value)
            << "register " << write.index;
}

TEST(SimEndToEnd, OutOfRangeReadGivesExceptionAndLineStaysUsable)
{
    SimProcess sim({"--fixed"});
    ASSERT_TRUE(sim.ready());
    Master master(sim.ptyPath(), 1);
    ASSERT_TRUE(master.connected());
    std::vector<std::uint16_t> words;
    errno = 0;
    EXPECT_EQ(master.read(14, 2, words), -1);
    EXPECT_EQ(errno, EMBXILADD);
    errno = 0;
    EXPECT_EQ(modbus_write_register(master.ctx(), 0x0A01, 1), -1);
    EXPECT_EQ(errno, EMBXILADD);
    ASSERT_EQ(master.read(14, 1, words), 1);
    EXPECT_EQ(words[0], 1);
}

TEST(SimEndToEnd, AddressChangeMovesTheModule)
{
    SimProcess sim({"--fixed"});
    ASSERT_TRUE(sim.ready());
    Master master(sim.ptyPath(), 1, 300);
    ASSERT_TRUE(master.connected());
    ASSERT_EQ(modbus_write_register(master.ctx(), 0x0B00, 42), 1) << modbus_strerror(errno);

    std::vector<std::uint16_t> words;
    EXPECT_EQ(master.read(0, 1, words), -1);
    modbus_set_slave(master.ctx(), 42);
    master.setTimeout(1000);
    ASSERT_EQ(master.read(0, 2, words), 2) << modbus_strerror(errno);
    EXPECT_EQ(words, (std::vector<std::uint16_t>{2534, 6520}));

    const SimProcess::Stats stats = sim.stats();
    EXPECT_EQ(stats.requests, 3);
    EXPECT_EQ(stats.replies, 2);
    EXPECT_EQ(stats.ignored, 1);
}

TEST(SimEndToEnd, DeviceInformationIsSixteenBytes)
{
    SimProcess sim({"--fixed", "--address", "5", "--model", "KB4420P"});
    ASSERT_TRUE(sim.ready());
    Master master(sim.ptyPath(), 5);
    ASSERT_TRUE(master.connected());
    const std::uint8_t request[] = {0x05, 0x26, 0x00, 0x00, 0x00, 0x05};
    ASSERT_GT(modbus_send_raw_request(master.ctx(), request, sizeof request), 0);
    // libmodbus cannot size a reply to this function, so it is read off the line.
    const std::string reply = readAtLeast(modbus_get_socket(master.ctx()), 17, 500);
    ASSERT_EQ(reply.size(), 16u);
    EXPECT_EQ(reply.substr(0, 3), bytes({0x05, 0x26, 0x0B}));
    EXPECT_EQ(reply.substr(3, 11), "KB4420P    ");
    EXPECT_EQ(bitwiseCrc(reply), 0);
}

TEST(SimEndToEnd, QueryAddressIsAnsweredFromOwnAddress)
{
    SimProcess sim({"--fixed", "--address", "37"});
    ASSERT_TRUE(sim.ready());
    RawPort port(sim.ptyPath());
    ASSERT_TRUE(port.isOpen());
    ASSERT_TRUE(port.write(asVector(bytes({0xFA, 0x03, 0x00, 0x00, 0x00, 0x01, 0x91, 0x81}))));
    // 37 = 0x25; register 0 = 2534 = 0x09E6.
    EXPECT_EQ(port.readAtLeast(7, 2000), bytes({0x25, 0x03, 0x02, 0x09, 0xE6, 0x4F, 0x99}));
}

TEST(SimEndToEnd, OtherStationAndDamagedFramesAreIgnored)
{
    SimProcess sim({"--fixed"});
    ASSERT_TRUE(sim.ready());
    RawPort port(sim.ptyPath());
    ASSERT_TRUE(port.isOpen());
    ASSERT_TRUE(port.write(asVector(bytes({0x02, 0x03, 0x00, 0x00, 0x00, 0x0B, 0x04, 0x3E}))));
    QThread::msleep(100);
    ASSERT_TRUE(port.write(asVector(bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCE}))));
    QThread::msleep(100);
    ASSERT_TRUE(port.write(asVector(bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}))));
    EXPECT_EQ(port.readAtLeast(7, 2000), bytes({0x01, 0x03, 0x02, 0x09, 0xE6, 0x3F, 0x9E}));
    const SimProcess::Stats stats = sim.stats();
    EXPECT_EQ(stats.requests, 3);
    EXPECT_EQ(stats.replies, 1);
    EXPECT_EQ(stats.ignored, 2);
}

class ReplyShaping : public ::testing::TestWithParam<QStringList>
{
};

TEST_P(ReplyShaping, MasterStillReadsWholeReplies)
{
    SimProcess sim(QStringList{"--fixed", "--seed", "5"} + GetParam());
    ASSERT_TRUE(sim.ready());
    Master master(sim.ptyPath(), 1);
    ASSERT_TRUE(master.connected());
    for (int round = 0; round < 5; ++round) {
        std::vector<std::uint16_t> words;
        ASSERT_EQ(master.read(0, 15, words), 15) << modbus_strerror(errno);
        EXPECT_EQ(words, defaultWords);
    }
}

INSTANTIATE_TEST_SUITE_P(Options, ReplyShaping,
                         ::testing::Values(QStringList{"--split", "3", "--split-gap", "2"},
                                           QStringList{"--pace", "19200"},
                                           QStringList{"--pace", "9600", "--split", "4",
                                                       "--split-gap", "1"},
                                           QStringList{"--random-split", "--random-gap-max", "3"},
                                           QStringList{"--reply-delay", "50"}));

TEST(SimEndToEnd, FlipsABitInEverySecondReply)
{
    SimProcess sim({"--fixed", "--seed", "9", "--flip-every", "2"});
    ASSERT_TRUE(sim.ready());
    RawPort port(sim.ptyPath());
    ASSERT_TRUE(port.isOpen());
    const std::string good = bytes({0x01, 0x03, 0x02, 0x09, 0xE6, 0x3F, 0x9E});
    for (int n = 1; n <= 4; ++n) {
        ASSERT_TRUE(port.write(asVector(bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}))));
        const std::string reply = port.readAtLeast(7, 2000);
        ASSERT_EQ(reply.size(), 7u) << "reply " << n;
        int flipped = 0;
        for (std::size_t i = 0; i < reply.size(); ++i)
            flipped += __builtin_popcount(static_cast<unsigned char>(reply[i] ^ good[i]));
        EXPECT_EQ(flipped, n % 2 == 0 ? 1 : 0) << "reply " << n;
    }
}

TEST(SimEndToEnd, DuplicatedReplyArrivesTwiceInARow)
{
    SimProcess sim({"--fixed", "--duplicate-every", "1"});
    ASSERT_TRUE(sim.ready());
    RawPort port(sim.ptyPath());
    ASSERT_TRUE(port.isOpen());
    ASSERT_TRUE(port.write(asVector(bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}))));
    EXPECT_EQ(port.readAtLeast(14, 2000),
              repeated(bytes({0x01, 0x03, 0x02, 0x09, 0xE6, 0x3F, 0x9E}), 2));
}

TEST(SimEndToEnd, SilentModeIgnoresUntilSwitchedOff)
{
    SimProcess sim({"--fixed"});
    ASSERT_TRUE(sim.ready());
    Master master(sim.ptyPath(), 1, 300);
    ASSERT_TRUE(master.connected());
    sim.command("silent on");
    sim.stats();
    std::vector<std::uint16_t> words;
    EXPECT_EQ(master.read(0, 1, words), -1);
    sim.command("silent off");
    sim.stats();
    master.setTimeout(1000);
    EXPECT_EQ(master.read(0, 1, words), 1) << modbus_strerror(errno);
    const SimProcess::Stats stats = sim.stats();
    EXPECT_EQ(stats.requests, 2);
    EXPECT_EQ(stats.replies, 1);
    EXPECT_EQ(stats.ignored, 1);
}

TEST(SimEndToEnd, FloodFillsTheLineThenModuleAnswersAgain)
{
    SimProcess sim({"--fixed"});
    ASSERT_TRUE(sim.ready());
    RawPort port(sim.ptyPath());
    ASSERT_TRUE(port.isOpen());
    const std::string request = bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A});
    const std::string reply = bytes({0x01, 0x03, 0x02, 0x09, 0xE6, 0x3F, 0x9E});
    // One exchange first, so the simulator has seen the line open.
    ASSERT_TRUE(port.write(asVector(request)));
    ASSERT_EQ(port.readAtLeast(7, 2000), reply);
    sim.command("flood 0.3");
    sim.stats();
    QThread::msleep(500);
    EXPECT_GT(port.pendingBytes(), 1000);
    port.discardPending();
    port.available();
    ASSERT_TRUE(port.write(asVector(request)));
    EXPECT_EQ(port.readAtLeast(7, 2000), reply);
}

TEST(SimEndToEnd, FloodEndIsReportedWithItsVolume)
{
    SimProcess sim({"--fixed"});
    ASSERT_TRUE(sim.ready());
    RawPort port(sim.ptyPath());
    ASSERT_TRUE(port.isOpen());
    const std::string request = bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A});
    ASSERT_TRUE(port.write(asVector(request)));
    ASSERT_EQ(port.readAtLeast(7, 2000).size(), 7u);
    sim.command("flood 0.3");
    const QString report = sim.readLine(5000);
    static const QRegularExpression pattern(QStringLiteral("^FLOOD bytes=(\\d+) ms=(\\d+)$"));
    const auto match = pattern.match(report);
    ASSERT_TRUE(match.hasMatch()) << report.toStdString();
    // Nobody drains the line, so the volume is what the pseudo-terminal holds.
    EXPECT_GE(match.captured(1).toLongLong(), port.pendingBytes());
    EXPECT_GT(port.pendingBytes(), 1000);
    EXPECT_GE(match.captured(2).toLongLong(), 300);
}

TEST(SimEndToEnd, SetAtRuntimeIsReadBackAndListed)
{
    SimProcess sim({"--fixed"});
    ASSERT_TRUE(sim.ready());
    Master master(sim.ptyPath(), 1);
    ASSERT_TRUE(master.connected());
    sim.command("set 0=64405");
    sim.command("set 2=1"); // refused: the alarm follows the readings
    sim.command("regs");
    // -11.34 is under the lower limit, so the alarm state moved with it.
    EXPECT_EQ(sim.readLine(), "REGS 64405 6520 1 0 0 5000 64535 9000 1000 1 2 5 9600 1 1");
    std::vector<std::uint16_t> words;
    ASSERT_EQ(master.read(0, 3, words), 3) << modbus_strerror(errno);
    EXPECT_EQ(words, (std::vector<std::uint16_t>{64405, 6520, 1}));
}

TEST(SimEndToEnd, NoiseComesAndGoes)
{
    SimProcess sim({"--fixed", "--seed", "3", "--noise"});
    ASSERT_TRUE(sim.ready());
    RawPort port(sim.ptyPath());
    ASSERT_TRUE(port.isOpen());
    EXPECT_FALSE(port.readAtLeast(8, 3000).empty());
    sim.command("noise off");
    sim.stats();
    QThread::msleep(50);
    port.discardPending();
    port.available();
    EXPECT_EQ(port.readAtLeast(1, 500), "");
}

TEST(SimEndToEnd, UploadRecordsAtMillisecondInterval)
{
    SimProcess sim({"--fixed", "--set", "0=64405", "--set", "1=4550", "--upload-ms", "40"});
    ASSERT_TRUE(sim.ready());
    RawPort port(sim.ptyPath());
    ASSERT_TRUE(port.isOpen());
    const std::string record = "[-11.3,045.5]";
    const std::string received = port.readAtLeast(5 * record.size(), 5000);
    ASSERT_GE(received.size(), 5 * record.size());
    EXPECT_EQ(received.substr(0, 5 * record.size()), repeated(record, 5));
    EXPECT_GE(sim.stats().uploads, 5);
}

TEST(SimEndToEnd, UploadIntervalRegisterInSeconds)
{
    SimProcess sim({"--fixed", "--upload", "--set", "11=1"});
    ASSERT_TRUE(sim.ready());
    RawPort port(sim.ptyPath());
    ASSERT_TRUE(port.isOpen());
    EXPECT_EQ(port.readAtLeast(26, 5000), repeated("[025.3,065.2]", 2));
}

TEST(SimEndToEnd, WritingIntervalRegisterChangesUploadPace)
{
    SimProcess sim({"--fixed", "--upload", "--set", "11=3600"});
    ASSERT_TRUE(sim.ready());
    {
        Master master(sim.ptyPath(), 1);
        ASSERT_TRUE(master.connected());
        ASSERT_EQ(modbus_write_register(master.ctx(), 0x0A10, 1), 1) << modbus_strerror(errno);
    }
    RawPort port(sim.ptyPath());
    ASSERT_TRUE(port.isOpen());
    EXPECT_EQ(port.readAtLeast(13, 5000), "[025.3,065.2]");
}

TEST(SimEndToEnd, ReopenedLineCarriesNoBacklog)
{
    SimProcess sim({"--fixed", "--upload-ms", "20"});
    ASSERT_TRUE(sim.ready());
    QThread::msleep(300);
    {
        RawPort port(sim.ptyPath());
        ASSERT_TRUE(port.isOpen());
        // At most one record can slip in between our open and the read.
        EXPECT_LE(port.available().size(), 13u);
        EXPECT_EQ(port.readAtLeast(26, 3000).substr(0, 1), "[");
    }
    QThread::msleep(300);
    RawPort again(sim.ptyPath());
    ASSERT_TRUE(again.isOpen());
    EXPECT_LE(again.available().size(), 13u);
}

TEST(SimEndToEnd, DropAndRestoreFollowTheLink)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString link = dir.filePath("kc-line");
    SimProcess sim({"--fixed", "--link", link});
    ASSERT_TRUE(sim.ready());
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), sim.ptyPath());
    std::vector<std::uint16_t> words;
    {
        Master master(link, 1);
        ASSERT_TRUE(master.connected());
        ASSERT_EQ(master.read(0, 1, words), 1) << modbus_strerror(errno);
    }

    sim.command("drop");
    sim.stats();
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_FALSE(QFileInfo::exists(link)); // the link dangles like a pulled adapter
    EXPECT_FALSE(Master(link, 1).connected());

    sim.command("restore");
    const QString announced = sim.readLine();
    ASSERT_TRUE(announced.startsWith("PTY ")) << announced.toStdString();
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), announced.mid(4));
    {
        Master master(link, 1);
        ASSERT_TRUE(master.connected());
        ASSERT_EQ(master.read(1, 1, words), 1) << modbus_strerror(errno);
        EXPECT_EQ(words[0], 6520);
    }

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
    const QString path = dir.filePath("notes.txt");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("keep me");
    file.close();
    QProcess process;
    process.start(SimProcess::program(), {"--link", path});
    ASSERT_TRUE(process.waitForFinished(5000));
    EXPECT_NE(process.exitCode(), 0);
    EXPECT_FALSE(QFileInfo(path).isSymLink());
}

TEST(SimEndToEnd, HelpAndBadOptions)
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
