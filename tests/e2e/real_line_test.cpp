// The real window on the real serial link against a module on a pseudo-terminal:
// what only a real line shows. Rules are tested in tests/core, the window's
// wiring in tests/window.

#include "SimProcess.h"
#include "line/LineEngine.h"
#include "line/PortClaims.h"
#include "support/ControlText.h"
#include "support/MessageRecorder.h"
#include "support/Pty.h"
#include "ui/BusScanWindow.h"
#include "ui/MainWindow.h"

#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

// The real window on the real serial link, with COM1 mapped to device.
struct LiveWindow
{
    explicit LiveWindow(const QString &device)
    {
        // An empty name would let the window fall back to a real port of this machine.
        qputenv("KC4420_COM1", device.isEmpty() ? "/nonexistent" : device.toLocal8Bit());
        window = std::make_unique<kc::MainWindow>(&claims, &messages);
        window->show();
    }
    ~LiveWindow()
    {
        window.reset();
        qunsetenv("KC4420_COM1");
    }

    QString text(const QString &name) const { return controlText(window.get(), name); }
    QString lamp() const { return window->frontLamp(); }
    QString values() const
    {
        QStringList texts;
        for (int i = 0; i < 15; ++i)
            texts << text(QStringLiteral("txtValue_%1").arg(i));
        return texts.join(QLatin1Char(' '));
    }
    void type(const QString &box, const QString &text)
    {
        auto *e = window->findChild<QLineEdit *>(box);
        e->clear();
        QTest::keyClicks(e, text);
    }
    void click(const QString &button)
    {
        QTest::mouseClick(window->findChild<QPushButton *>(button), Qt::LeftButton);
    }
    // Clicks and waits for the request's outcome; false when none came.
    bool request(const QString &button)
    {
        const long long before = window->totals().sent;
        click(button);
        return pumpUntil([&] { return window->totals().sent > before; });
    }

    kc::PortClaims claims;
    MessageRecorder messages;
    std::unique_ptr<kc::MainWindow> window;
};

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
        return QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58));
    });
    const auto logged = [&] { return w.text("txtUp").split('\n', Qt::SkipEmptyParts); };
    // With the port closed the module's records go nowhere and its count settles.
    w.click("Command1");
    pumpFor(200);
    const long long before = sim.stats().uploads;
    w.click("Command3");
    w.click("cmdCom");
    ASSERT_TRUE(pumpUntil([&] { return logged().size() >= 30; }));
    sim.command("set 11=3600"); // the next record an hour away
    const long long sent = sim.stats().uploads - before;
    pumpUntil([&] { return logged().size() >= sent; }, 3000);
    pumpFor(100); // a line too many would show up here
    EXPECT_EQ(logged().size(), sent);
    EXPECT_EQ(logged().count("2024-02-29 23:59:58 25.3 65.2"), sent);
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
    EXPECT_TRUE(w.window->findChild<QWidget *>("scanNetworkNote")->isVisible());
    EXPECT_FALSE(w.window->findChild<QWidget *>("scanBaud9600")->isEnabled());
}

// The module drops the line and with it the path that named it, as a pulled
// adapter takes its stable name, then comes back under that path. Held here, the
// first pseudo-terminal keeps its number, so the module comes back under another:
// the reopen must follow the path.
TEST(LineLost, RedLampAndReopenFollowsThePath)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("com1");
    SimProcess sim({"--fixed", "--link", path});
    const int held = ::open(QFile::encodeName(sim.ptyPath()), O_RDWR | O_NOCTTY | O_NONBLOCK);
    LiveWindow w(path);
    ASSERT_TRUE(w.request("comDoOnce"));
    sim.command("drop");
    // Nothing but the lost line can turn the lamp red here.
    ASSERT_TRUE(pumpUntil([&] { return w.lamp() == "imgNotConnected"; }));
    EXPECT_FALSE(w.window->line() && w.window->line()->isOpen());
    sim.command("restore");
    ASSERT_TRUE(pumpUntil([&] { return QFileInfo::exists(path); }));
    w.click("cmdCom");
    EXPECT_EQ(w.lamp(), "imgConnected");
    ASSERT_TRUE(w.request("comDoOnce"));
    EXPECT_EQ(w.window->totals().answered, 2);
    ::close(held);
}

} // namespace
