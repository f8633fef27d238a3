#include "SimProcess.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

// --stamp-replies: the benches pair each "SENT <ns>" line with the moment the tool
// shows that reply, so there must be exactly one stamp per reply, taken on the
// same clock, after the request that caused it.

namespace {

std::int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

std::vector<std::uint8_t> withCrc(std::vector<std::uint8_t> frame)
{
    std::uint16_t crc = 0xFFFF;
    for (const std::uint8_t byte : frame) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

class Line
{
public:
    explicit Line(const QString &path)
        : m_fd(::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        termios settings{};
        if (m_fd >= 0 && tcgetattr(m_fd, &settings) == 0) {
            cfmakeraw(&settings);
            tcsetattr(m_fd, TCSANOW, &settings);
        }
    }
    ~Line()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Line(const Line &) = delete;
    Line &operator=(const Line &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    bool write(const std::vector<std::uint8_t> &bytes)
    {
        return ::write(m_fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // Bytes read until `count` arrived or nothing came for `quietMs`.
    std::size_t readUpTo(std::size_t count, int quietMs)
    {
        std::size_t total = 0;
        std::uint8_t buffer[512];
        while (total < count) {
            pollfd fd{m_fd, POLLIN, 0};
            if (poll(&fd, 1, quietMs) <= 0)
                break;
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            total += static_cast<std::size_t>(n);
        }
        return total;
    }

private:
    int m_fd = -1;
};

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

struct StampCase
{
    const char *name;
    QStringList arguments;
    bool answered;
    bool stamped;
};

class ReplyStamps : public ::testing::TestWithParam<StampCase>
{
};

TEST_P(ReplyStamps, OneStampPerReplyAfterItsRequest)
{
    SimProcess sim(QStringList{"--fixed", "--seed", "3"} + GetParam().arguments);
    ASSERT_TRUE(sim.ready());
    Line line(sim.ptyPath());
    ASSERT_TRUE(line.isOpen());
    const auto request = withCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x0F});

    std::vector<std::int64_t> requestTimes;
    for (int round = 0; round < 3; ++round) {
        requestTimes.push_back(monotonicNs());
        ASSERT_TRUE(line.write(request));
        EXPECT_EQ(line.readUpTo(35, 300), GetParam().answered ? 35u : 0u) << round;
    }
    const std::vector<std::int64_t> stamps = stampsBeforeStats(sim);
    ASSERT_EQ(stamps.size(), GetParam().stamped ? 3u : 0u);
    // Same clock as ours: a stamp can only follow the request it answers.
    for (std::size_t i = 0; i < stamps.size(); ++i)
        EXPECT_GE(stamps[i], requestTimes[i]) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ReplyStamps,
    ::testing::Values(
        StampCase{"whole", {"--stamp-replies"}, true, true},
        // Several writes per reply still make one stamp, after the last piece.
        StampCase{"split", {"--stamp-replies", "--split", "4", "--split-gap", "1"}, true, true},
        StampCase{"paced", {"--stamp-replies", "--pace", "38400"}, true, true},
        StampCase{
            "random", {"--stamp-replies", "--random-split", "--random-gap-max", "2"}, true, true},
        StampCase{"delayed", {"--stamp-replies", "--reply-delay", "20"}, true, true},
        StampCase{"off", {}, true, false},
        StampCase{"unanswered", {"--stamp-replies", "--address", "2"}, false, false}),
    [](const ::testing::TestParamInfo<StampCase> &info) { return info.param.name; });

TEST(ReplyStamps, UploadRecordsAreNotStamped)
{
    SimProcess sim({"--fixed", "--stamp-replies", "--upload-ms", "20"});
    ASSERT_TRUE(sim.ready());
    Line line(sim.ptyPath());
    ASSERT_TRUE(line.isOpen());
    // Several records arrive; none of them is a reply.
    EXPECT_GE(line.readUpTo(3 * 13, 1000), 3u * 13);
    EXPECT_TRUE(stampsBeforeStats(sim).empty());
}

} // namespace
