// The real window on the real serial link against a module on a pseudo-terminal:
// what only a real line shows. Rules are tested in tests/core, the window's
// wiring in tests/window.

#include "SimProcess.h"
#include "e2e/LiveWindow.h"
#include "ui/BusScanWindow.h"

#include <QComboBox>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>
#include <modbus.h>

#include <fcntl.h>
#include <tuple>
#include <unistd.h>

namespace {

// The upload log's clock, and its text.
const QDateTime stampTime(QDate(2024, 2, 29), QTime(23, 59, 58));
const QString stamp = QStringLiteral("2024-02-29 23:59:58");

int logLines(const LiveWindow &w)
{
    return int(w.text("txtUp").split(QLatin1Char('\n'), Qt::SkipEmptyParts).size());
}

TEST(Module, ReadWriteAddressAndDeviceInformation)
{
    SimProcess sim({"--fixed", "--address", "7", "--model", "KB7", "--set", "0=65000"});
    LiveWindow w(sim.ptyPath());
    // Asked at station 250, the module answers from its own address; the window takes it.
    ASSERT_TRUE(w.request("cmdReadAdd"));
    EXPECT_EQ(w.text("txtSetID_0") + "/" + w.text("txtStationID"), "7/7");

    // Row 5, the upper temperature limit, in hundredths.
    w.type("txtValue_5", "45.5");
    ASSERT_TRUE(w.request("cmdSet_2"));
    EXPECT_EQ(sim.registers().at(5), 4550);

    ASSERT_TRUE(w.request("comDoOnce"));
    EXPECT_EQ(w.values(), "-5.35 65.20 0 0.00 0.00 45.50 -10.00 90.00 10.00 1 2 5 9600 1 1");
    EXPECT_EQ(w.lamp(), "imgConnected");
    EXPECT_TRUE(w.text("outcomeText").startsWith("应答正常 "))
        << w.text("outcomeText").toStdString();

    ASSERT_TRUE(w.request("Command2"));
    // The module pads a shorter text with blanks; all eleven characters are shown.
    EXPECT_EQ(w.text("TXTtype"), "KB7        ");
    EXPECT_EQ(w.window->totals().answered, 4);
    EXPECT_EQ(sim.stats().replies, 4);
    EXPECT_TRUE(w.messages.shown.isEmpty());
}

// Records come every 10 ms while the window is busy with the last one (a slow
// clock stands in for a window at work): each record sent is logged once.
// What the window says when the module refuses, stays silent once, or is absent.
TEST(Module, RefusedSilentAndAbsent)
{
    SimProcess sim({"--fixed", "--refuse-writes", "3"});
    LiveWindow w(sim.ptyPath());
    w.type("txtValue_5", "45.5");
    ASSERT_TRUE(w.request("cmdSet_2"));
    EXPECT_EQ(w.text("outcomeText"), "模块拒绝：非法数据值 (03)");
    EXPECT_EQ(w.lamp(), "imgNotConnected");
    EXPECT_EQ(w.text("txtValue_5"), "45.5");

    sim.command("silent-once");
    ASSERT_TRUE(w.request("comDoOnce"));
    EXPECT_EQ(w.text("outcomeText"), "无应答 (超时 1000 ms)");
    EXPECT_EQ(w.lamp(), "imgNotConnected");
    ASSERT_TRUE(w.request("comDoOnce"));
    EXPECT_TRUE(w.text("outcomeText").startsWith("应答正常 "));

    // No module at station 9: no reply by the short timeout set here.
    w.window->setResponseTimeout(100);
    w.type("txtStationID", "9");
    ASSERT_TRUE(w.request("comDoOnce"));
    EXPECT_EQ(w.text("outcomeText"), "无应答 (超时 100 ms)");
    const kc::OutcomeTotals &t = w.window->totals();
    EXPECT_EQ(t.sent, t.answered + t.noReply + t.errors() + t.superseded);
    EXPECT_EQ(t.noReply, 2);
}

TEST(Upload, EveryRecordSentIsLoggedOnce)
{
    SimProcess sim({"--fixed", "--upload-ms", "10"});
    LiveWindow w(sim.ptyPath());
    w.window->setClock([] {
        QThread::msleep(5);
        return stampTime;
    });
    // With the port closed the module's records go nowhere and its count settles.
    w.click("Command1");
    pumpFor(200);
    const long long before = sim.stats().uploads;
    w.click("Command3");
    w.click("cmdCom");
    ASSERT_TRUE(pumpUntil([&] { return logLines(w) >= 30; }));
    sim.command("set 11=3600"); // the next record an hour away
    const long long sent = sim.stats().uploads - before;
    pumpUntil([&] { return logLines(w) >= sent; }, 3000);
    pumpFor(100); // a line too many would show up here
    const QStringList log = w.text("txtUp").split(QLatin1Char('\n'));
    EXPECT_EQ(log.size(), sent);
    EXPECT_EQ(log.count(stamp + " 25.3 65.2"), sent);
}

// COM1 mapped to a module behind the network: the window reads it as on a
// serial line, and the bus scan has no rates to offer there.
TEST(Module, OnANetworkLine)
{
    SimProcess sim({"--fixed", "--tcp", "0"});
    LiveWindow w(QStringLiteral("tcp://127.0.0.1:%1").arg(sim.tcpPort()));
    ASSERT_TRUE(w.request("comDoOnce"));
    EXPECT_EQ(w.values(), "25.34 65.20 0 0.00 0.00 50.00 -10.00 90.00 10.00 1 2 5 9600 1 1");
    kc::showBusScan(w.window.get(), &w.messages);
    auto *note = w.window->findChild<QWidget *>("scanNetworkNote");
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->isVisible());
    EXPECT_FALSE(w.window->findChild<QWidget *>("scanBaud9600")->isEnabled());
}

// The module writes each record whole, so the test plays the device to cut them.
TEST(Upload, RecordsInPiecesAreLoggedOnce)
{
    Pty line;
    LiveWindow w(line.path);
    w.window->setClock([] { return stampTime; });
    w.click("Command3");
    const QByteArray records = QByteArray("[-05.1,065.2]").repeated(4);
    // Inside the readings; at the 12 bytes the window waits for; the first
    // record's closing bracket with all of the second but its own; the rest.
    qsizetype at = 0;
    for (const qsizetype cut : {5, 12, 25, 52}) {
        ASSERT_EQ(::write(line.far, records.constData() + at, size_t(cut - at)), cut - at);
        at = cut;
        pumpFor(30); // each piece its own delivery
    }
    ASSERT_TRUE(pumpUntil([&] { return logLines(w) >= 4; }));
    EXPECT_EQ(w.text("txtUp"), QString(stamp + " -5.1 65.2\n").repeated(4).chopped(1));
}

// A Modbus RTU server on libmodbus, sharing no code with the tool or the
// simulator: a framing or checksum fault both of them make shows up here, as
// it does not answer a frame it refuses.
class LibmodbusPeer
{
public:
    explicit LibmodbusPeer(const std::vector<std::uint16_t> &words)
    {
        modbus_set_slave(m_ctx.get(), 1);
        modbus_set_socket(m_ctx.get(), line.far); // the device name is never opened
        std::copy(words.begin(), words.end(), registers->tab_registers);
        // Once a request's first byte is in, libmodbus waits for the rest itself.
        QObject::connect(&m_notifier, &QSocketNotifier::activated, [this] {
            std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
            const int length = modbus_receive(m_ctx.get(), query);
            if (length > 0)
                modbus_reply(m_ctx.get(), query, length, registers.get());
        });
    }

    Pty line;
    // Up to the address register.
    std::unique_ptr<modbus_mapping_t, decltype(&modbus_mapping_free)> registers{
        modbus_mapping_new(0, 0, 0x0B01, 0), &modbus_mapping_free};

private:
    std::unique_ptr<modbus_t, decltype(&modbus_free)> m_ctx{
        modbus_new_rtu("/dev/null", 9600, 'N', 8, 1), &modbus_free};
    QSocketNotifier m_notifier{line.far, QSocketNotifier::Read};
};

TEST(LibmodbusPeer, AnswersTheReadAndStoresTheWrites)
{
    LibmodbusPeer peer({1999, 4321, 2, 65035, 100, 3500, 65335, 7000, 3000, 5, 6, 60, 4800, 1, 2});
    LiveWindow w(peer.line.path);
    ASSERT_TRUE(w.request("comDoOnce"));
    EXPECT_EQ(w.values(), "19.99 43.21 2 -5.00 1.00 35.00 -2.00 70.00 30.00 5 6 60 4800 1 2");

    // Row, typed text, register address, word stored.
    const std::tuple<int, const char *, int, std::uint16_t> writes[] = {
        {5, "45.5", 0x0A04, 4550},    {6, "-5", 0x0A06, 65035}, {3, "-0.01", 0x0A00, 65534},
        {12, "19200", 0x0A12, 19200}, {14, "1", 0x0A16, 1},
    };
    for (const auto &[row, typed, address, word] : writes) {
        w.type(QStringLiteral("txtValue_%1").arg(row), typed);
        ASSERT_TRUE(w.request(QStringLiteral("cmdSet_%1").arg(row - 3))) << typed;
        EXPECT_EQ(peer.registers->tab_registers[address], word) << typed;
    }
    EXPECT_EQ(w.window->totals().answered, 1 + long(std::size(writes)));
    EXPECT_EQ(w.lamp(), "imgConnected");
    EXPECT_TRUE(w.messages.shown.isEmpty());
}

// The module drops the line and with it the path that named it, as a pulled
// adapter takes its stable name, then comes back under that path.
TEST(LineLost, RedLampNothingSentWhileClosedAndReopenWorks)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("com1");
    SimProcess sim({"--fixed", "--link", path});
    // Held here, the first pseudo-terminal keeps its number, so the module comes
    // back under another: a reopen must follow the path.
    const int held = ::open(QFile::encodeName(sim.ptyPath()), O_RDWR | O_NOCTTY | O_NONBLOCK);
    LiveWindow w(path);
    int ticks = 0;
    QObject::connect(w.window->pollTimer(), &QTimer::timeout, [&] { ++ticks; });
    w.type("txtTimerSet", "50");
    // Reopened by 打开串口, then by choosing the port again.
    for (const char *reopen : {"cmdCom", "Combo1"}) {
        SCOPED_TRACE(reopen);
        ASSERT_TRUE(w.request("comDoOnce"));
        ASSERT_EQ(w.lamp(), "imgConnected");
        sim.command("drop");
        // Nothing but the lost line can turn the lamp red here.
        ASSERT_TRUE(pumpUntil([&] { return w.lamp() == "imgNotConnected"; }));
        EXPECT_FALSE(w.portOpen());

        // Polling a closed port says so once, and later ticks stay quiet.
        const qsizetype messages = w.messages.shown.size();
        w.click("cmdOneM");
        sim.command("restore");
        ASSERT_TRUE(pumpUntil([&] { return QFileInfo::exists(path); }));
        const long long requests = sim.stats().requests;
        const int ticksBefore = ticks;
        ASSERT_TRUE(pumpUntil([&] { return ticks >= ticksBefore + 5; }));
        w.click("cmdStopOnce");
        EXPECT_EQ(sim.stats().requests, requests);
        EXPECT_EQ(w.messages.shown.size(), messages + 1);

        if (QString(reopen) == "Combo1") {
            // Away to COM2 and back, as a technician would.
            auto *ports = w.window->findChild<QComboBox *>("Combo1");
            QTest::keyClick(ports, Qt::Key_Down);
            QTest::keyClick(ports, Qt::Key_Up);
        } else {
            w.click(reopen);
        }
        EXPECT_TRUE(w.portOpen());
        EXPECT_EQ(w.lamp(), "imgConnected");
    }
    ASSERT_TRUE(w.request("comDoOnce"));
    EXPECT_EQ(w.window->totals().answered, 3);
    ::close(held);
}

} // namespace
