// The real window on the real serial link against a module on a pseudo-terminal:
// what only a real line shows. Rules are tested in tests/core, the window's
// wiring in tests/window.

#include "SimProcess.h"
#include "e2e/LiveWindow.h"
#include "ui/BusScanWindow.h"

#include <QComboBox>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
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

    // No module at station 9: no reply by the short timeout set here.
    w.window->setResponseTimeout(100);
    w.type("txtStationID", "9");
    ASSERT_TRUE(w.request("comDoOnce"));
    EXPECT_EQ(w.text("outcomeText"), "无应答 (超时 100 ms)");
    EXPECT_EQ(w.lamp(), "imgNotConnected");
}

// Records come every 10 ms while the window is busy with the last one (a slow
// clock stands in for a window at work): each record sent is logged once.
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
