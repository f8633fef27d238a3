#include "e2e/E2eSupport.h"

#include <gtest/gtest.h>
#include <modbus.h>

#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>

#include <memory>
#include <optional>
#include <pty.h>
#include <termios.h>
#include <tuple>
#include <unistd.h>

namespace {

// The line settings of the descriptor this process holds on device (found
// through /proc/self/fd), or nothing when no descriptor points there.
std::optional<termios> heldLineSettings(const QString &device)
{
    const QString target = QFileInfo(device).canonicalFilePath();
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &name : fds.entryList(QDir::Files | QDir::System)) {
        termios settings{};
        if (QFileInfo(fds.filePath(name)).symLinkTarget() == target &&
            ::tcgetattr(name.toInt(), &settings) == 0)
            return settings;
    }
    return std::nullopt;
}

TEST(FirstSlice, StartUpOpensComOneAndASingleReadShowsTheModule)
{
    SimProcess sim(FixedModule::arguments());
    LiveWindow w(sim.ptyPath());
    ASSERT_TRUE(w.link->isOpen());

    EXPECT_EQ(w.text("Combo1") + " " + w.text("Combo2"), "COM1 9600");
    // What the driver was really told, not what the window believes: 9600 8N1, raw.
    const auto line = heldLineSettings(sim.ptyPath());
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(cfgetospeed(&*line), speed_t(B9600));
    EXPECT_EQ(cfgetispeed(&*line), speed_t(B9600));
    EXPECT_EQ(line->c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
    EXPECT_EQ(line->c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), tcflag_t(0));
    EXPECT_EQ(line->c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
    EXPECT_EQ(w.lamp(), "imgConnected");
    EXPECT_EQ(w.text("lblCounter") + "/" + w.text("lblErrCounter"), "1/1");

    ASSERT_TRUE(w.request("comDoOnce"));
    EXPECT_EQ(w.text("txtCommand"), sentText(withCrc(QByteArray::fromHex("01030000000F"))));
    EXPECT_EQ(w.valueTexts().join(" "), FixedModule::shown.join(" "));
    EXPECT_EQ(w.text("txtState"), receivedText(readReply(1, FixedModule::words)));
    EXPECT_EQ(w.lamp(), "imgConnected");
    EXPECT_EQ(w.text("lblCounter") + "/" + w.text("lblErrCounter"), "2/2");
    EXPECT_EQ(sim.stats().requests, 1);
    EXPECT_EQ(w.allEvents(), 1);
    EXPECT_TRUE(w.messages.shown.isEmpty());
}

// A Modbus RTU server on libmodbus, on the far end of a pseudo-terminal whose
// near end the window opens as COM1. It shares no code with the tool or the
// simulator, so a framing or checksum fault both of them make shows up here:
// it does not answer a frame it refuses.
class LibmodbusPeer
{
public:
    explicit LibmodbusPeer(const std::vector<std::uint16_t> &words)
    {
        // Raw mode on the line is the window's part, checked in the test above.
        char name[256] = {};
        if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
            return;
        path = QString::fromLocal8Bit(name);
        // The device name is never opened: the server talks on the master descriptor.
        modbus_set_slave(m_ctx, 1);
        modbus_set_socket(m_ctx, m_master);
        std::copy(words.begin(), words.end(), m_mapping->tab_registers);
        // Served from the event loop; once a request's first byte is in, libmodbus
        // waits for the rest itself.
        m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
            std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
            const int length = modbus_receive(m_ctx, query);
            if (length > 0)
                modbus_reply(m_ctx, query, length, m_mapping);
        });
    }

    ~LibmodbusPeer()
    {
        m_notifier.reset();
        modbus_mapping_free(m_mapping);
        modbus_free(m_ctx);
        ::close(m_master);
        ::close(m_slave);
    }

    QString path;

private:
    int m_master = -1;
    int m_slave = -1;
    modbus_t *m_ctx = modbus_new_rtu("/dev/null", 9600, 'N', 8, 1);
    modbus_mapping_t *m_mapping = modbus_mapping_new(0, 0, 0x0B01, 0); // up to the address
    std::unique_ptr<QSocketNotifier> m_notifier;
};

TEST(FirstSlice, AnIndependentModbusServerIsReadAndWritten)
{
    const std::vector<std::uint16_t> table = {1999, 4321, 2, 65035, 100,  3500, 65335, 7000,
                                              3000, 5,    6, 60,    4800, 1,    2};
    LibmodbusPeer peer(table);
    LiveWindow w(peer.path);
    ASSERT_TRUE(w.link->isOpen());

    ASSERT_TRUE(w.request("comDoOnce"));
    EXPECT_EQ(w.valueTexts().join(' '),
              "19.99 43.21 2 -5.00 1.00 35.00 -2.00 70.00 30.00 5 6 60 4800 1 2");
    EXPECT_EQ(w.text("txtState"), receivedText(readReply(1, table)));
    EXPECT_EQ(w.lamp(), "imgConnected");

    // Row, typed text, register address, word on the line.
    const std::tuple<int, const char *, int, std::uint16_t> writes[] = {
        {5, "45.5", 0x0A04, 4550},    {6, "-5", 0x0A06, 65035}, {3, "-0.01", 0x0A00, 65534},
        {12, "19200", 0x0A12, 19200}, {14, "1", 0x0A16, 1},
    };
    for (const auto &[row, typed, address, word] : writes) {
        w.type(w.valueBox(row), typed);
        ASSERT_TRUE(w.request(w.setButton(row))) << typed;
        // The server echoes a request it carried out; the window shows the echo and
        // takes its station.
        const QByteArray request = writeFrame(1, address, word);
        EXPECT_EQ(w.text("txtCommand"), sentText(request));
        EXPECT_EQ(w.text("txtState"), receivedText(request));
        EXPECT_EQ(w.text("txtStationID"), "1");
    }
    EXPECT_EQ(w.receiveEvents, 1 + int(std::size(writes)));
    EXPECT_TRUE(w.messages.shown.isEmpty());
}

} // namespace
