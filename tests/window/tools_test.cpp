#include "WindowHarness.h"

#include "line/Monitor.h"
#include "support/FileSizeCap.h"
#include "support/Frames.h"
#include "ui/BusScanWindow.h"
#include "ui/CommissioningWindow.h"
#include "ui/MonitorWindow.h"
#include "ui/TrafficLogWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextBrowser>

// The scan takes the port and changes rate without closing it; a module at
// 2400 is listed by the quick pass; cancelled, the scan gives the port back
// and the window reopens it at the operator's rate; "使用" then moves the
// window to the module.
TEST(BusScanWindow, CancelGivesThePortBackAndUseTakesTheModule)
{
    WindowHarness h;
    h.act("Combo2:3"); // the operator's rate: 19200
    h.answer([](FakeLink *link, const QByteArray &frame) {
        return frame.startsWith(char(0xFA)) && link->baud() == 2400
                   ? QByteArray::fromHex("07030209E6B79E")
                   : QByteArray();
    });
    h.menu("总线扫描");
    auto *scan = h.window->findChild<kc::BusScanWindow *>();
    ASSERT_NE(scan, nullptr);
    QTest::mouseClick(scan->findChild<QPushButton *>("scanStart"), Qt::LeftButton);
    EXPECT_EQ(scan->findChild<QLabel *>("scanProgressText")->text(),
              "波特率 0/5  站号 0/247  剩余约 2分19秒");
    FakeLink *scanLink = h.link();
    // Kept past its engine, which goes once the scan gives the port back, for
    // the counts below.
    QObject keeper;
    scanLink->setParent(&keeper);
    auto *table = scan->findChild<QTableWidget *>("scanTable");
    ASSERT_TRUE(QTest::qWaitFor([&] { return table->rowCount() == 1; }, 3000));
    EXPECT_EQ(table->item(0, 1)->text() + " " + table->item(0, 2)->text(), "7 2400");
    EXPECT_EQ(scan->findChild<QLabel *>("scanPort")->text().left(9), "扫描串口：COM1");

    QTest::mouseClick(scan->findChild<QPushButton *>("scanCancel"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !scan->scanning(); }, 3000));
    const qsizetype sent = scanLink->written.size();
    ASSERT_NE(h.link(), scanLink);
    EXPECT_TRUE(h.link()->isOpen());
    EXPECT_EQ(h.link()->baud(), 19200);
    QTest::qWait(300);
    EXPECT_EQ(scanLink->written.size(), sent); // nothing after the scan ended
    // The traffic log shows the scan's frames too, every one of them.
    const auto &lines = h.window->trafficLog()->log().entries();
    const auto scanFrames = std::count_if(lines.begin(), lines.end(), [](const auto &row) {
        return row.direction == kc::TrafficEntry::Direction::Sent;
    });
    EXPECT_EQ(scanFrames, sent);

    QTest::mouseClick(scan->findChild<QPushButton *>("scanUse0"), Qt::LeftButton);
    h.expect("Combo2=2400;txtStationID=7;outcomeText=已使用扫描找到的模块：站 7，2400 波特");
    EXPECT_EQ(h.link()->baud(), 2400);
    EXPECT_TRUE(h.link()->isOpen());
    // The modules found become rows of the monitor, on this window's port.
    QTest::mouseClick(scan->findChild<QPushButton *>("scanWatch"), Qt::LeftButton);
    auto *rows = h.window->monitorWindow()->findChild<QTableWidget *>();
    ASSERT_NE(rows, nullptr);
    ASSERT_EQ(rows->rowCount(), 1);
    EXPECT_EQ(rows->item(0, 1)->text() + " " + rows->item(0, 2)->text(), "COM1 7");
    h.window->monitorWindow()->monitor()->remove(0); // the list is kept for the next window
}

// Modules found at two rates cannot be polled on one port: "加入监视" refuses
// and adds none, rather than some.
TEST(BusScanWindow, WatchAddsEveryModuleOrNone)
{
    WindowHarness h;
    // Station 7 at 2400 baud, station 9 at 4800.
    h.answer([](FakeLink *link, const QByteArray &frame) {
        return !frame.startsWith(char(0xFA)) ? QByteArray()
               : link->baud() == 2400        ? QByteArray::fromHex("07030209E6B79E")
               : link->baud() == 4800        ? QByteArray::fromHex("09030209E6DE5F")
                                             : QByteArray();
    });
    h.menu("总线扫描");
    auto *scan = h.window->findChild<kc::BusScanWindow *>();
    scan->findChild<QCheckBox *>("scanSingle")->setChecked(true);
    scan->findChild<QSpinBox *>("scanTimeout")->setValue(20);
    scan->findChild<QSpinBox *>("scanLast")->setValue(3);
    QTest::mouseClick(scan->findChild<QPushButton *>("scanStart"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !scan->scanning(); }, 5000));
    auto *table = scan->findChild<QTableWidget *>("scanTable");
    ASSERT_EQ(table->rowCount(), 2);
    QTest::mouseClick(scan->findChild<QPushButton *>("scanWatch"), Qt::LeftButton);
    EXPECT_EQ(h.messages.texts(), QStringList{"同一串口上的模块须使用同一波特率"});
    EXPECT_EQ(h.window->monitorWindow()->monitor()->rowCount(), 0);
    // "使用" stays in view without scrolling sideways.
    auto *use = scan->findChild<QPushButton *>("scanUse1");
    EXPECT_TRUE(table->viewport()->rect().contains(
        QRect(use->mapTo(table->viewport(), QPoint()), use->size())));
}

// A template the rules refuse is named before anything is sent.
TEST(CommissioningWindow, RefusedTemplateIsNamed)
{
    WindowHarness h;
    QTemporaryDir dir;
    QFile file(dir.filePath("t.json"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"kind":"template","rows":[{"row":12,"text":"1200"}]})");
    file.close();
    kc::showCommissioning(h.window.get(), &h.messages, file.fileName());
    EXPECT_EQ(h.messages.texts(),
              QStringList{"第 12 行（12波特率）：你输入的值有误，正确的值范围为2400,4800,9600,"
                          "19200或38400!"});
    EXPECT_TRUE(h.link()->written.isEmpty());
    // With no template there is nothing to read a module against.
    kc::showCommissioning(h.window.get(), &h.messages);
    auto *wizard = h.window->findChild<kc::CommissioningWindow *>();
    EXPECT_FALSE(wizard->findChild<QPushButton *>("wizardRead")->isEnabled());
}

// A report line the disk cannot take stops the run: the wizard says why, the
// module is not counted (the next address stays) and no part of the line is
// left in the report.
TEST(CommissioningWindow, UnwrittenReportLineStopsTheRun)
{
    WindowHarness h;
    // One module, at 7, whose every register is 0: the template asks nothing of it.
    h.answer([](FakeLink *, const QByteArray &frame) {
        const int station = quint8(frame[0]) == 0xFA ? 7 : quint8(frame[0]);
        return frame[1] == 0x06 ? frame
               : frame[1] == 0x26
                   ? withCrc(bytes({station, 0x26, 11}) + "KC4420P-001")
                   : withCrc(bytes({station, 0x03, 2 * frame[5]}) + QByteArray(2 * frame[5], 0));
    });
    QTemporaryDir dir;
    QFile file(dir.filePath("t.json"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"kind":"template","rows":[{"row":5,"text":"0"}]})");
    file.close();
    kc::showCommissioning(h.window.get(), &h.messages, file.fileName());
    auto *wizard = h.window->findChild<kc::CommissioningWindow *>();
    const QString report = dir.filePath("report.csv");
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->selectFile(report);
        static_cast<QDialog *>(dialog)->accept();
    });
    QTest::mouseClick(wizard->findChild<QPushButton *>("wizardReport"), Qt::LeftButton);
    ASSERT_EQ(QFileInfo(report).size(), 53); // the header
    {
        const FileSizeCap cap(53 + 10);
        QTest::mouseClick(wizard->findChild<QPushButton *>("wizardNextModule"), Qt::LeftButton);
    }
    EXPECT_EQ(wizard->findChild<QLabel *>("wizardStatus")->text(),
              "报告文件写入失败，该模块未计入");
    EXPECT_EQ(wizard->findChild<QLabel *>("wizardNext")->text(), "下一地址：1");
    EXPECT_EQ(QFileInfo(report).size(), 53);
    ASSERT_EQ(h.messages.texts().size(), 1);
    EXPECT_TRUE(h.messages.texts()[0].startsWith("报告文件写入失败：" + report));
    EXPECT_TRUE(h.messages.texts()[0].contains(",KC4420P-001,7,1,pass,,"))
        << h.messages.texts()[0].toStdString();
}

// "帮助": the README rendered, and "关于" says what the tool is, its version and
// where its documents are.
TEST(Help, ReadmeAndAbout)
{
    WindowHarness h;
    h.menu("使用说明");
    auto *readme = h.window->findChild<QTextBrowser *>("helpReadme");
    ASSERT_NE(readme, nullptr);
    EXPECT_TRUE(readme->toPlainText().contains("The two commands"));
    h.menu("关于");
    ASSERT_EQ(h.messages.texts().size(), 1);
    const QString about = h.messages.texts()[0];
    EXPECT_TRUE(about.contains("版本 ") && about.contains("温湿度模块") && about.contains("文档："))
        << about.toStdString();
}
