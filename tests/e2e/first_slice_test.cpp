#include "e2e/E2eSupport.h"
#include "e2e/LiveWindow.h"

#include <QFileInfo>

#include <gtest/gtest.h>
#include <modbus.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

TEST(FirstSlice, StartUpOpensComOneAndASingleReadShowsTheModule)
{
    SimProcess sim(FixedModule::arguments());
    ASSERT_TRUE(sim.ready());
    LiveWindow w(sim.ptyPath());

    ASSERT_TRUE(w.link->isOpen());
    EXPECT_EQ(w.link->device(), QFileInfo(sim.ptyPath()).canonicalFilePath());
    EXPECT_EQ(w.text("Combo1"), "COM1");
    EXPECT_EQ(w.text("Combo2"), "9600");
    // What the driver was really told, not what the window believes.
    const auto line = heldLineSettings(sim.ptyPath());
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(cfgetospeed(&*line), speed_t(B9600));
    EXPECT_EQ(cfgetispeed(&*line), speed_t(B9600));
    EXPECT_EQ(line->c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(line->c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    EXPECT_EQ(line->c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), tcflag_t(0));
    EXPECT_EQ(line->c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
    EXPECT_EQ(w.lamp(), "imgConnected");
    EXPECT_EQ(w.text("lblCounter"), "1");
    EXPECT_EQ(w.text("lblErrCounter"), "1");
    EXPECT_TRUE(w.messages.shown.isEmpty());

    w.click("comDoOnce");
    EXPECT_EQ(w.text("txtCommand"), sentText(withCrc(QByteArray::fromHex("01030000000F"))));
    ASSERT_TRUE(pumpUntil([&] { return w.receiveEvents == 1; }));

    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(w.text(QStringLiteral("txtValue_%1").arg(i)), FixedModule::rows()[i].shown)
            << "row " << i;
    EXPECT_EQ(w.text("txtState"), receivedText(readReply(1, FixedModule::words())));
    EXPECT_EQ(w.lamp(), "imgConnected");
    EXPECT_EQ(w.text("lblCounter"), "2");
    EXPECT_EQ(w.text("lblErrCounter"), "2");
    const SimProcess::Stats stats = sim.stats();
    EXPECT_EQ(stats.requests, 1);
    EXPECT_EQ(stats.replies, 1);
    EXPECT_EQ(stats.ignored, 0);
    EXPECT_EQ(w.allEvents(), 1);
    EXPECT_TRUE(w.messages.shown.isEmpty());
}

// A Modbus RTU server on libmodbus, on the far end of a pseudo-terminal whose
// near end the window opens as COM1. It shares no code with the tool or the
// simulator, so a framing or checksum fault both of them make shows up here.
class LibmodbusPeer
{
public:
    static constexpr int registerSpan = 0x0B01; // 0 .. the address register

    LibmodbusPeer(int station, const std::vector<std::uint16_t> &words)
    {
        char name[256] = {};
        if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
            return;
        m_slavePath = QString::fromLocal8Bit(name);
        termios raw{};
        ::tcgetattr(m_slave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(m_slave, TCSANOW, &raw);

        // The device name is never opened: the server talks on the master descriptor.
        m_ctx = modbus_new_rtu("/dev/null", 9600, 'N', 8, 1);
        m_mapping = modbus_mapping_new(0, 0, registerSpan, 0);
        if (!m_ctx || !m_mapping)
            return;
        modbus_set_slave(m_ctx, station);
        modbus_set_socket(m_ctx, m_master);
        // Wake up now and then to see whether the test is over.
        modbus_set_indication_timeout(m_ctx, 0, 100000);
        for (std::size_t i = 0; i < words.size(); ++i)
            m_mapping->tab_registers[i] = words[i];
        m_thread = std::thread([this] { serve(); });
    }

    ~LibmodbusPeer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_mapping)
            modbus_mapping_free(m_mapping);
        if (m_ctx)
            modbus_free(m_ctx);
        if (m_master >= 0)
            ::close(m_master);
        if (m_slave >= 0)
            ::close(m_slave);
    }

    bool ready() const { return m_thread.joinable(); }
    QString path() const { return m_slavePath; }
    int answered() const { return m_answered; }
    int refused() const { return m_refused; }

    std::uint16_t word(int address)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_mapping->tab_registers[address];
    }

private:
    void serve()
    {
        std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
        while (!m_stop) {
            const int length = modbus_receive(m_ctx, query);
            if (length > 0) {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (modbus_reply(m_ctx, query, length, m_mapping) > 0)
                    ++m_answered;
            } else if (length < 0 && errno != ETIMEDOUT) {
                // A bad checksum or a broken frame from the tool.
                ++m_refused;
                modbus_flush(m_ctx);
            }
        }
    }

    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    modbus_t *m_ctx = nullptr;
    modbus_mapping_t *m_mapping = nullptr;
    std::mutex m_mutex;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_answered{0};
    std::atomic<int> m_refused{0};
};

TEST(FirstSlice, AnIndependentModbusServerIsReadAndWritten)
{
    const std::vector<std::uint16_t> table = {1999, 4321, 2, 65035, 100,  3500, 65335, 7000,
                                              3000, 5,    6, 60,    4800, 1,    2};
    const char *shown[15] = {"19.99", "43.21", "2", "-5.00", "1.00", "35.00", "-2.00", "70.00",
                             "30.00", "5",     "6", "60",    "4800", "1",     "2"};
    LibmodbusPeer peer(1, table);
    ASSERT_TRUE(peer.ready());
    LiveWindow w(peer.path());
    ASSERT_TRUE(w.link->isOpen());

    w.click("comDoOnce");
    ASSERT_TRUE(pumpUntil([&] { return w.receiveEvents == 1; }));
    EXPECT_EQ(peer.answered(), 1);
    EXPECT_EQ(peer.refused(), 0);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(w.text(QStringLiteral("txtValue_%1").arg(i)), shown[i]) << "row " << i;
    EXPECT_EQ(w.text("txtState"), receivedText(readReply(1, table)));
    EXPECT_EQ(w.lamp(), "imgConnected");

    struct Write
    {
        int row;
        const char *typed;
        int address;
        std::uint16_t word;
    };
    const Write writes[] = {
        {5, "45.5", 0x0A04, 4550},    {6, "-5", 0x0A06, 65035}, {3, "-0.01", 0x0A00, 65534},
        {12, "19200", 0x0A12, 19200}, {14, "1", 0x0A16, 1},
    };
    int events = w.receiveEvents;
    for (const Write &write : writes) {
        w.type(QStringLiteral("txtValue_%1").arg(write.row), write.typed);
        w.click(QStringLiteral("cmdSet_%1").arg(write.row - 3));
        ASSERT_TRUE(pumpUntil([&] { return w.receiveEvents == events + 1; })) << write.typed;
        events = w.receiveEvents;
        EXPECT_EQ(peer.word(write.address), write.word) << write.typed;
        // The server echoes the request; the window shows it and takes its station.
        const QByteArray request =
            withCrc(QByteArray::fromHex("0106") + QByteArray(1, char(write.address >> 8)) +
                    QByteArray(1, char(write.address & 0xFF)) +
                    QByteArray(1, char(write.word >> 8)) + QByteArray(1, char(write.word & 0xFF)));
        EXPECT_EQ(w.text("txtCommand"), sentText(request));
        EXPECT_EQ(w.text("txtState"), receivedText(request));
        EXPECT_EQ(w.text("txtStationID"), "1");
    }
    EXPECT_EQ(peer.answered(), 1 + int(std::size(writes)));
    EXPECT_EQ(peer.refused(), 0);
    EXPECT_TRUE(w.messages.shown.isEmpty());
}

} // namespace
