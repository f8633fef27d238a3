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
    EXPECT_EQ(client->objectName(), "frmMain");
    EXPECT_EQ(h.window->minimumSize(), h.window->maximumSize());
    // clang-format off
    const char *controls[] = {
        "Frame5 8 8 161 521 串口设置", "Label3 32 26 47 17 串口号", "Combo1 80 24 57 20 串口号",
        "Combo2 80 48 57 20 波特率", "Label5_2 32 50 47 17 波特率", "Label5_0 32 74 47 17 校验位",
        "Label5_1 32 98 47 17 数据位", "Label5_3 32 122 47 17 停止位", "Combo3 80 72 57 20 校验位",
        "Combo4 80 96 57 20 数据位", "Combo5 80 120 57 20 停止位", "Picture2 48 152 60 17 ",
        "imgNotConnected 72 152 16 16 数据采集通讯状态指示",
        "ImgYellow 72 152 16 16 数据采集通讯状态指示",
        "imgConnected 72 152 16 16 数据采集通讯状态指示", "cmdCom 16 176 65 25 打开串口",
        "Command1 96 176 65 25 关闭串口", "Label7 16 208 145 17 串口发送数据",
        "txtCommand 16 232 145 29 串口发送数据", "Label1_0 16 264 145 17 串口接收数据",
        "txtState 16 280 145 65 串口接收数据", "Label1_1 16 376 145 17 成功接收/循环 计数",
        "lblErrCounter 16 400 60 17 1", "lblCounter 88 400 60 17 1",
        "Label1_2 16 424 145 17 适用产品型号", "Label1_3 32 440 120 16 KC4420P",
        "Label1_4 32 456 120 16 KB4420P", "Label1_5 32 472 120 16 KA4420P",
        "Frame10 176 8 425 49 MODBUS设置", "Label8_0 184 34 47 17 设备地址",
        "txtStationID 232 32 33 20 设备地址", "Label8_3 280 34 47 17 功 能 码",
        "txtFunID 328 32 33 20 功 能 码", "Label8_1 368 34 47 17 超始地址",
        "txtStartID 416 32 33 20 超始地址", "Label8_2 464 34 47 17 数据长度",
        "txtDataLength 512 32 33 20 数据长度", "Frame12 176 64 425 81 设备地址修改操作",
        "Label2_7 192 90 160 17 将地址      修改为  ", "txtSetID_0 232 88 29 20 将地址",
        "txtSetID_1 304 88 37 20 修改为", "cmdChangeID 360 80 81 25 执行",
        "cmdReadAdd 480 80 81 25 读地址",
        "Label2_13 192 120 393 17 RV40及RV52系列通过产品内部拔码开关修改地址，软件修改仅限RV27系列",
        "Frame3 176 144 425 479 数据及参数查询", "lblDanWei_2 192 170 93 17 0 温度值",
        "txtValue_0 288 168 67 18 0 温度值", "lblDanWei_0 360 169 60 17 ℃",
        "lblDanWei_1 192 194 93 17 1 湿度值", "txtValue_1 288 192 67 18 1 湿度值",
        "lblDanWei_3 360 193 60 17 %Rh", "lblDanWei_8 192 218 93 17 2 报警状态",
        "txtValue_2 288 216 67 18 2 报警状态",
        "Label2_9 360 218 235 17 值 1-温度报警 2-湿度报警 0-正常",
        "lblDanWei_6 192 242 93 17 3 温度误差校准", "txtValue_3 288 240 67 18 3 温度误差校准",
        "cmdSet_0 360 240 57 18 设置", "Label2_4 424 242 171 17 值范围为：-10.00到10.00",
        "lblDanWei_5 192 266 93 17 4 湿度误差校准", "txtValue_4 288 264 67 18 4 湿度误差校准",
        "cmdSet_1 360 264 57 18 设置", "Label2_1 424 266 171 17 值范围为：-10.00到10.00",
        "lblDanWei_12 192 290 93 17 5 温度报警上限", "txtValue_5 288 288 67 18 5 温度报警上限",
        "cmdSet_2 360 288 57 18 设置", "lblDanWei_9 192 314 93 17 6 温度报警下限",
        "txtValue_6 288 312 67 18 6 温度报警下限", "cmdSet_3 360 312 57 18 设置",
        "lblDanWei_11 192 338 93 17 7 湿度报警上限", "txtValue_7 288 336 67 18 7 湿度报警上限",
        "cmdSet_4 360 336 57 18 设置", "lblDanWei_4 192 362 93 17 8 湿度报警下限",
        "txtValue_8 288 360 67 18 8 湿度报警下限", "cmdSet_5 360 360 57 18 设置",
        "lblDanWei_14 192 386 93 17 9 温度控制回差", "txtValue_9 288 384 67 18 9 温度控制回差",
        "cmdSet_6 360 384 57 18 设置", "Label2_10 424 386 171 17 值范围为：-10.00到10.00",
        "lblDanWei_15 192 410 93 17 10湿度控制回差", "txtValue_10 288 408 67 18 10湿度控制回差",
        "cmdSet_7 360 408 57 18 设置", "Label2_11 424 410 171 17 值范围为：-10.00到10.00",
        "lblDanWei_13 192 434 93 17 11主动上传时间", "txtValue_11 288 432 67 18 11主动上传时间",
        "cmdSet_8 360 432 57 18 设置", "Label2_8 424 434 171 17 单位：秒 范围1-3600",
        "lblDanWei_7 192 458 93 17 12波特率", "txtValue_12 288 456 67 18 12波特率",
        "cmdSet_9 360 456 57 18 设置", "Label2_3 424 458 171 17 值:2400,4800,9600,19200",
        "lblDanWei_10 192 482 93 17 13通讯方式", "txtValue_13 288 480 67 18 13通讯方式",
        "cmdSet_10 360 480 57 18 设置", "Label2_5 424 482 171 17 1:MODBUS 2:HTTPD",
        "lblDanWei_16 192 506 93 17 14控制模式", "txtValue_14 288 504 67 18 14控制模式",
        "cmdSet_11 360 504 57 18 设置", "Label2_12 424 506 171 17 1:降温除湿 2:加温加湿",
        "Label8_4 192 548 87 17 定时时长(ms)", "txtTimerSet 280 546 41 20 定时时长(ms)",
        "comDoOnce 368 544 65 25 单次", "cmdOneM 444 544 65 25 循环",
        "cmdStopOnce 520 544 65 25 停止", "Label8_5 208 604 73 17 设备信息",
        "TXTtype 288 602 129 20 设备信息", "Command2 424 600 81 22 读设备信息",
        "Frame2 608 8 257 521 上传记录", "txtUp 616 24 241 449 上传记录",
        "Command3 648 480 160 40 主动上传模式"
    };
    // clang-format on
    const QStringList red = QStringLiteral("Label1_2 lblDanWei_0 lblDanWei_3 Label2_9 Label2_4 "
                                           "Label2_1 Label2_10 Label2_11 Label2_8 Label2_3 "
                                           "Label2_5 Label2_12")
                                .split(' ');
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
    EXPECT_TRUE(h.find<QPushButton>("Command3")->font().bold());
    EXPECT_DOUBLE_EQ(h.find<QPushButton>("Command3")->font().pointSizeF(), 14.25);
    EXPECT_EQ(h.find<QLabel>("lblDanWei_0")->font().family(), "Arial");
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
