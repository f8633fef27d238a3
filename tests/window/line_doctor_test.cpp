#include "WindowHarness.h"

#include "line/LineEngine.h"
#include "operations/TrafficLog.h"
#include "support/Frames.h"
#include "ui/CommSettingsDialog.h"
#include "ui/DiagnosisWindow.h"
#include "ui/ListenWindow.h"
#include "ui/TrafficLogWindow.h"

#include <QTableWidget>
#include <QTemporaryDir>

namespace {

QByteArray fifteenWords(int station)
{
    QByteArray body = bytes({station, 0x03, 30});
    body.append(QByteArray(30, '\x01'));
    return withCrc(body);
}

} // namespace

// "线路诊断" runs on the window's port at its station: an adapter that echoes
// is named in the report and each echo once in the traffic log; the port
// goes back to the window and the report is saved as shown.
TEST(DiagnosisWindow, NamesTheEchoAndGivesThePortBack)
{
    WindowHarness h;
    h.act("txtStationID=3");
    // The diagnosis's link goes with its engine once the port is given back.
    QStringList sent;
    h.answer([&sent](FakeLink *, const QByteArray &frame) {
        sent << frame.toHex(' ').toUpper();
        return frame + (frame.startsWith(char(0xFA)) ? readReply({3}, 3) : fifteenWords(3));
    });
    h.menu("线路诊断");
    auto *window = h.window->findChild<kc::DiagnosisWindow *>();
    ASSERT_NE(window, nullptr);
    QTest::mouseClick(window->findChild<QPushButton *>("diagnosisStart"), Qt::LeftButton);
    const qsizetype links = h.links.made["COM1"].size();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->running(); }, 5000));
    ASSERT_EQ(sent.size(), 10);
    EXPECT_EQ(sent.last(), "03 03 00 00 00 0F 04 2C");
    EXPECT_TRUE(window->reportText().contains("[警告] 适配器回显"))
        << window->reportText().toStdString();
    EXPECT_TRUE(window->reportText().contains("10 次中 10 次"));
    int echoNotes = 0;
    for (const auto &row : h.window->trafficLog()->log().entries())
        echoNotes += row.outcome == "适配器回显";
    EXPECT_EQ(echoNotes, 10);
    ASSERT_EQ(h.links.made["COM1"].size(), links + 1);
    EXPECT_TRUE(h.link()->isOpen());

    QTemporaryDir dir;
    ASSERT_TRUE(window->saveTo(dir.filePath("r.txt")));
    QFile saved(dir.filePath("r.txt"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(saved.readAll()), window->reportText());
}

// "监听" holds the window's port and sends nothing on it: what another master
// asks and is answered shows decoded, a cut reply once the line is silent;
// stopping gives the port back.
TEST(ListenWindow, DecodesWithoutSendingAndGivesThePortBack)
{
    WindowHarness h;
    QTest::mouseClick(h.window->trafficLog()->findChild<QPushButton *>("trafficListen"),
                      Qt::LeftButton);
    auto *window = h.window->findChild<kc::ListenWindow *>();
    ASSERT_NE(window, nullptr);
    QTest::mouseClick(window->findChild<QPushButton *>("listenStart"), Qt::LeftButton);
    ASSERT_TRUE(window->listening());
    EXPECT_EQ(h.window->line(), nullptr);
    FakeLink *link = h.link();
    link->deliver(QByteArray::fromHex("010300000002C40B") + readReply({2534, 6520}));
    h.messages.shown.clear();
    h.act("comDoOnce");
    EXPECT_EQ(h.messages.texts(), QStringList{"该串口正在监听，请先停止监听"});
    auto *table = window->findChild<QTableWidget *>("listenTable");
    ASSERT_EQ(table->rowCount(), 1);
    EXPECT_EQ(table->item(0, 2)->text() + " | " + table->item(0, 5)->text(),
              "读寄存器 0-1 (03) | 0=25.34  1=65.20");
    // A reply cut short is ended by the line's silence.
    link->deliver(QByteArray::fromHex("010300000002C40B") + readReply({1, 2}).left(5));
    ASSERT_TRUE(QTest::qWaitFor([&] { return table->rowCount() == 2; }, 2000));
    EXPECT_EQ(table->item(1, 3)->text(), "应答不完整 (5 字节)");
    EXPECT_TRUE(link->written.isEmpty());
    const qsizetype links = h.links.made["COM1"].size();
    QTest::mouseClick(window->findChild<QPushButton *>("listenStop"), Qt::LeftButton);
    EXPECT_EQ(h.links.made["COM1"].size(), links + 1);
    EXPECT_TRUE(h.window->line() != nullptr && h.link()->isOpen());
}

// The echo setting is remembered between runs and every line opened takes it.
TEST(CommSettings, EchoSettingRemembered)
{
    kc::storeEchoMode(kc::EchoMode::On);
    WindowHarness h;
    ASSERT_NE(h.window->line(), nullptr);
    EXPECT_EQ(h.window->line()->echoMode(), kc::EchoMode::On);
    kc::storeEchoMode(kc::EchoMode::Auto);
}
