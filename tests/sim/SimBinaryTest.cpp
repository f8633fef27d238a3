#include "HexText.h"
#include "SimProcess.h"

#include <QThread>

#include <gtest/gtest.h>
#include <modbus.h>

#include <arpa/inet.h>
#include <cerrno>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

const std::string readOne = "01 03 00 00 00 01 84 0A";
const std::string oneWord = "01 03 02 09 E6 3F 9E";

// A plain client's TCP connection to the line; closed when it goes.
struct Wire
{
    explicit Wire(int fd) : fd(fd) {}
    ~Wire()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Wire(const Wire &) = delete;
    Wire &operator=(const Wire &) = delete;

    void send(const std::string &hexText) const
    {
        const std::vector<std::uint8_t> data = bytes(hexText);
        EXPECT_EQ(::write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    }

    // Exactly count bytes, fewer when the guard ran out or the peer closed; the guard
    // only keeps a broken simulator from hanging the test.
    std::string read(std::size_t count) const
    {
        std::string data;
        pollfd ready{fd, POLLIN, 0};
        while (data.size() < count && poll(&ready, 1, 3000) > 0) {
            char buffer[512];
            const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, count - data.size()));
            if (n <= 0)
                break;
            data.append(buffer, static_cast<std::size_t>(n));
        }
        return data;
    }

    std::string exchange(const std::string &request, std::size_t replyBytes) const
    {
        send(request);
        return hex(read(replyBytes));
    }

    // The far side has closed: the next read ends the stream instead of waiting.
    bool closedByPeer() const
    {
        pollfd ready{fd, POLLIN, 0};
        char byte = 0;
        return poll(&ready, 1, 3000) > 0 && ::read(fd, &byte, 1) == 0;
    }

    int fd;
};

// -1 when nobody listens.
int connectTcp(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
        return fd;
    ::close(fd);
    return -1;
}

using Master = std::unique_ptr<modbus_t, void (*)(modbus_t *)>;

// A libmodbus master for station 1, which sets the line to baud; null when it cannot connect.
Master connect(const SimProcess &sim, int baud)
{
    Master master(modbus_new_rtu(sim.ptyPath().toLocal8Bit().constData(), baud, 'N', 8, 1),
                  [](modbus_t *ctx) {
                      modbus_close(ctx);
                      modbus_free(ctx);
                  });
    if (master && (modbus_set_slave(master.get(), 1) != 0 || modbus_connect(master.get()) != 0))
        master.reset();
    return master;
}

// The real binary on its pseudo-terminal, driven by libmodbus: a master sharing no
// code with the simulator checks the framing and CRC of a reply. What it answers
// to each request is the simulator's core tests' business.
TEST(SimBinary, AnswersAtItsRateAndCountsEveryRequest)
{
    // -6.00 degrees lies within the default limits, so the alarm state stays 0.
    SimProcess sim({"--fixed", "--set", "0=64935", "--set", "1=5000", "--baud", "9600"});
    ASSERT_TRUE(sim.ready());
    // The pty's ends share line settings: at 9600 the module ignores what a master sends at
    // 19200. That master stays open, so the line is never seen to hang up.
    const Master other = connect(sim, 19200);
    ASSERT_TRUE(other) << modbus_strerror(errno);
    std::vector<std::uint16_t> words(15);
    EXPECT_EQ(modbus_read_registers(other.get(), 0, 1, words.data()), -1);
    const Master master = connect(sim, 9600);
    ASSERT_TRUE(master) << modbus_strerror(errno);

    ASSERT_EQ(modbus_read_registers(master.get(), 0, 15, words.data()), 15)
        << modbus_strerror(errno);
    EXPECT_EQ(words, (std::vector<std::uint16_t>{64935, 5000, 0, 0, 0, 5000, 64535, 9000, 1000, 1,
                                                 2, 5, 9600, 1, 1}));
    EXPECT_EQ(sim.registers(), words);

    EXPECT_EQ(sim.quit(), 0);
    EXPECT_EQ(sim.readLine(), "STATS requests=2 replies=1 ignored=1 uploads=0 rx_bytes=16 "
                              "master_requests=0 master_replies=0");
}

// RTU over TCP: each client's requests framed by their length, however the stream cuts
// or joins them, answered to that client alone; kick sends the clients away and lets
// the next in. (Drop and restore: the monitor's live tests.)
TEST(SimBinary, TcpClientsShareTheLine)
{
    SimProcess sim({"--tcp", "0", "--fixed"});
    ASSERT_TRUE(sim.ready());
    const int port = sim.tcpPort();
    const Wire a(connectTcp(port));
    const Wire b(connectTcp(port));
    ASSERT_GE(b.fd, 0);

    a.send("01 03 00");
    QThread::msleep(50); // far beyond the frame gap that would end it on a serial line
    EXPECT_EQ(a.exchange("00 00 01 84 0A", 7), oneWord);
    EXPECT_EQ(a.exchange(readOne + " 01 03 00 01 00 01 D5 CA", 14),
              oneWord + " 01 03 02 19 78 B3 F6");
    EXPECT_EQ(b.exchange(readOne, 7), oneWord);

    {
        // A device server takes a few clients; the one too many is closed at once.
        const Wire c(connectTcp(port));
        const Wire d(connectTcp(port));
        EXPECT_TRUE(Wire(connectTcp(port)).closedByPeer());
    }
    sim.command(QStringLiteral("kick"));
    EXPECT_TRUE(a.closedByPeer());
    EXPECT_EQ(Wire(connectTcp(port)).exchange(readOne, 7), oneWord);
    EXPECT_EQ(sim.stats().requests, 5);
}

TEST(SimBinary, TcpRecordsReachEveryClient)
{
    SimProcess sim({"--tcp", "0", "--fixed", "--upload-ms", "20"});
    ASSERT_TRUE(sim.ready());
    const Wire a(connectTcp(sim.tcpPort()));
    const Wire b(connectTcp(sim.tcpPort()));
    for (const Wire *client : {&a, &b})
        EXPECT_EQ(client->read(13), "[025.3,065.2]");
}

// What the line faults put on the wire, as the options set them and the commands change
// them; the same on a serial line, where the CLI's line doctor meets them.
TEST(SimBinary, FaultsShowOnTheWire)
{
    using Steps = std::vector<std::pair<std::string, std::string>>;
    const std::pair<QStringList, Steps> cases[] = {
        {{"--stray-before", "FF:2", "--cut-replies", "2"},
         {{readOne, "FF FF 01 03 02 09 E6"}, {"cut off", ""}, {readOne, "FF FF " + oneWord}}},
        {{"--echo"}, {{readOne, readOne + " " + oneWord}, {"echo off", ""}, {readOne, oneWord}}},
        // A new burst setting starts its round afresh.
        {{"--crc-burst", "4:1"},
         {{readOne, oneWord},
          {readOne, oneWord},
          {readOne, oneWord},
          {"crc-burst 2:1", ""},
          {readOne, oneWord},
          {readOne, "flipped"},
          {"crc-burst off", ""},
          {readOne, oneWord}}},
    };
    for (const auto &[options, steps] : cases) {
        SimProcess sim(QStringList(options) << "--fixed"
                                            << "--tcp"
                                            << "0");
        const Wire line(connectTcp(sim.tcpPort()));
        for (const auto &[sent, expected] : steps) {
            if (sent.find(' ') > 2) {
                sim.command(QString::fromStdString(sent));
                sim.stats();
                continue;
            }
            const std::size_t length = expected == "flipped" ? 7 : bytes(expected).size();
            const std::string got = line.exchange(sent, length);
            if (expected == "flipped")
                EXPECT_TRUE(got != oneWord && got.size() == oneWord.size()) << got;
            else
                EXPECT_EQ(got, expected) << options.join(' ').toStdString();
        }
    }
}

} // namespace
