#include "WindowHarness.h"

#include "ui/MonitorWindow.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

// The monitor window's list: rows added from the boxes, a refused entry with
// its message, a row removed, and the list and its ticks there again in the
// next window.
TEST(MonitorWindow, ListKeptBetweenWindows)
{
    WindowHarness h;
    {
        kc::MonitorWindow w(h.claims.get(), h.window->recorder(), &h.messages);
        auto *table = w.findChild<QTableWidget *>("monitorTable");
        for (const char *stations : {"1-3", "x"}) {
            w.findChild<QLineEdit *>("monitorStations")->setText(stations);
            QTest::mouseClick(w.findChild<QPushButton *>("monitorAdd"), Qt::LeftButton);
        }
        EXPECT_EQ(h.messages.texts(),
                  QStringList{"你输入的站号有误，应为1-250的数字，多个用逗号分开，连续的如 1-40"});
        table->selectRow(1);
        QTest::mouseClick(w.findChild<QPushButton *>("monitorRemove"), Qt::LeftButton);
        table->item(1, 0)->setCheckState(Qt::Checked);
        EXPECT_EQ(w.picked(), QStringList{"COM1#3"});
    }
    kc::MonitorWindow again(h.claims.get(), h.window->recorder(), &h.messages);
    auto *table = again.findChild<QTableWidget *>("monitorTable");
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->item(0, 2)->text() + table->item(1, 2)->text(), "13");
    EXPECT_EQ(again.picked(), QStringList{"COM1#3"});
}

// The monitor's "数据记录" box shows whether rows are written, whichever
// window's row the log refused.
TEST(MonitorWindow, DataLogBoxFollowsTheLog)
{
    WindowHarness h;
    auto *box = h.window->monitorWindow()->findChild<QCheckBox *>("monitorLog");
    h.window->recorder()->log()->setFolder("/proc/no-such-folder");
    h.window->recorder()->setLogging(true);
    EXPECT_TRUE(box->isChecked());
    h.act("txtDataLength=2 comDoOnce");
    h.link()->deliver(QByteArray::fromHex("01030409E6FF38587A"));
    EXPECT_FALSE(box->isChecked());
    EXPECT_EQ(h.text("outcomeText"), "无法创建数据记录文件夹：/proc/no-such-folder");
}

// The label says whether the monitor runs; turning the data log on while
// polling back to back first says how fast the file would grow, and a "否"
// leaves it off.
TEST(MonitorWindow, RunningLabelAndLogGrowth)
{
    WindowHarness h;
    h.messages.answer = false;
    kc::MonitorWindow *w = h.window->monitorWindow();
    w->monitor()->clear();
    ASSERT_FALSE(w->monitor()->add("COM1", "1-3", 9600));
    w->findChild<QSpinBox *>("monitorCycle")->setValue(0);
    auto *label = w->findChild<QLabel *>("monitorStatus");
    QTest::mouseClick(w->findChild<QPushButton *>("monitorStart"), Qt::LeftButton);
    EXPECT_EQ(label->text(), "监视中：3 个模块");
    w->findChild<QCheckBox *>("monitorLog")->setChecked(true);
    ASSERT_EQ(h.messages.texts().size(), 1);
    EXPECT_TRUE(h.messages.texts()[0].contains("GB")) << h.messages.texts()[0].toStdString();
    EXPECT_FALSE(w->findChild<QCheckBox *>("monitorLog")->isChecked());
    EXPECT_FALSE(h.window->recorder()->logging());
    QTest::mouseClick(w->findChild<QPushButton *>("monitorStop"), Qt::LeftButton);
    EXPECT_EQ(label->text(), "已停止监视：3 个模块");
    w->monitor()->clear(); // the next window starts empty
}
