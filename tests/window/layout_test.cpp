#include "WindowHarness.h"

#include <QStatusBar>

#include <QAbstractItemView>
#include <QGroupBox>
#include <QLabel>

// "name left top width height says": pixels in the client area, from the
// design's twips at 15 a pixel.
TEST(Layout, EveryControlAtItsPlace)
{
    WindowHarness h;
    // The client area keeps its designed size; the menu and status bars lie outside it.
    QWidget *client = h.window->centralWidget();
    EXPECT_EQ(client->size(), QSize(870, 623));
    EXPECT_EQ(h.window->minimumSize(), h.window->maximumSize());
    // clang-format off
    // One control of each kind and of each loop that places them (first and last
    // register rows, the notes, the heights fitted to the window's edge).
    const char *controls[] = {
        "Frame5 8 8 161 521 串口设置", "Combo1 80 24 57 20 串口号",
        "Label5_3 32 122 47 17 停止位", "Combo4 80 96 57 20 数据位",
        "imgConnected 72 152 16 16 数据采集通讯状态指示", "Label1_2 16 424 145 17 适用产品型号",
        "Label8_2 464 34 47 17 数据长度", "txtDataLength 512 32 33 20 数据长度",
        "cmdReadAdd 480 80 81 25 读地址", "Frame3 176 144 425 479 数据及参数查询",
        "lblDanWei_2 192 170 93 17 0 温度值", "txtValue_0 288 168 67 18 0 温度值",
        "lblDanWei_0 360 169 60 17 ℃", "Label2_9 360 218 235 17 值 1-温度报警 2-湿度报警 0-正常",
        "cmdSet_0 360 240 57 18 设置", "Label2_4 424 242 171 17 值范围为：-10.00到10.00",
        "lblDanWei_16 192 506 93 17 14控制模式", "txtValue_14 288 504 67 18 14控制模式",
        "cmdSet_11 360 504 57 18 设置", "Label2_12 424 506 171 17 1:降温除湿 2:加温加湿",
        "Command2 424 600 81 22 读设备信息", "txtUp 616 24 241 449 上传记录",
        "Command3 648 480 160 40 主动上传模式"
    };
    // clang-format on
    const QStringList red =
        QStringLiteral("Label1_2 lblDanWei_0 Label2_9 Label2_4 Label2_12").split(' ');
    // What a control says: its caption, a frame's title, a lamp's tooltip,
    // or an input's accessible name.
    auto says = [](const QWidget *w) {
        if (auto *l = qobject_cast<const QLabel *>(w))
            return l->pixmap().isNull() ? l->text() : l->toolTip();
        if (auto *b = qobject_cast<const QPushButton *>(w))
            return b->text();
        if (auto *g = qobject_cast<const QGroupBox *>(w))
            return g->title();
        return w->accessibleName();
    };
    for (const char *c : controls) {
        const QString line = QString::fromUtf8(c);
        const QStringList f = line.split(QLatin1Char(' '));
        auto *w = h.find<QWidget>(f[0]);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(QRect(w->mapTo(client, QPoint()), w->size()),
                  QRect(f[1].toInt(), f[2].toInt(), f[3].toInt(), f[4].toInt()))
            << c;
        EXPECT_EQ(says(w), line.section(QLatin1Char(' '), 5)) << c;
        EXPECT_EQ(w->palette().color(QPalette::WindowText) == Qt::red, red.contains(f[0])) << c;
        EXPECT_TRUE(w->accessibleName().startsWith(says(w)) || !w->inherits("QAbstractButton"))
            << c; // inputs' accessible names are in the table
        EXPECT_TRUE(!w->inherits("QGroupBox") ||
                    w->palette().color(QPalette::Window) == QColor(224, 224, 224))
            << c;
    }
    EXPECT_EQ(h.find<QPushButton>("cmdSet_0")->accessibleName(), "设置 3 温度误差校准");
}

// The status bar holds the last outcome and, beside it, the totals, both in
// view at the window's size.
TEST(Layout, StatusBarTotalsInView)
{
    WindowHarness h;
    QTest::qWait(20);
    QStatusBar *bar = h.window->statusBar();
    for (const char *name : {"outcomeText", "totalsText"}) {
        auto *label = h.find<QLabel>(name);
        const QRect inBar(label->mapTo(bar, QPoint()), label->size());
        EXPECT_TRUE(bar->rect().contains(inBar)) << name;
        EXPECT_GT(inBar.width(), 200) << name;
    }
}

// The port list is narrow: open, it is as wide as its longest entry, while the
// box keeps its place and size; an entry with no device says so in its tooltip.
TEST(Layout, OpenPortListShowsWholeEntries)
{
    qputenv("KC4420_COM11", "/nonexistent-but-named");
    WindowHarness h;
    auto *ports = h.find<QComboBox>("Combo1");
    const QRect box = ports->geometry();
    ports->showPopup();
    QAbstractItemView *view = ports->view();
    for (int row : {0, 9, 24}) {
        const QModelIndex entry = ports->model()->index(row, 0);
        EXPECT_GE(view->viewport()->width(), view->sizeHintForIndex(entry).width()) << row;
    }
    ports->hidePopup();
    EXPECT_EQ(ports->geometry(), box);
    EXPECT_EQ(ports->itemData(10, Qt::ToolTipRole).toString(), "/nonexistent-but-named");
    EXPECT_EQ(ports->itemData(24, Qt::ToolTipRole).toString(), "无设备");
    qunsetenv("KC4420_COM11");
}
