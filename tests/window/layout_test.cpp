#include "WindowHarness.h"

#include <QGroupBox>

namespace {
int px(int twips)
{
    return (twips + 7) / 15;
}
} // namespace

TEST(Layout, FramesAndFixedClientArea)
{
    WindowHarness h;
    EXPECT_EQ(h.window->size(), QSize(870, 623));
    EXPECT_EQ(h.window->minimumSize(), h.window->maximumSize());
    struct Case
    {
        const char *name, *caption;
        int l, t, w, height;
    };
    const Case frames[] = {
        {"Frame5", "串口设置", 120, 120, 2415, 7815},
        {"Frame10", "MODBUS设置", 2640, 120, 6375, 735},
        {"Frame12", "设备地址修改操作", 2640, 960, 6375, 1215},
        // grown to the window's bottom so the device-information row shows
        {"Frame3", "数据及参数查询", 2640, 2160, 6375, 9345 - 2160},
        {"Frame2", "上传记录", 9120, 120, 3855, 7815},
    };
    for (const auto &f : frames) {
        auto *g = h.find<QGroupBox>(f.name);
        EXPECT_EQ(g->title(), QString::fromUtf8(f.caption));
        EXPECT_EQ(g->geometry(), QRect(px(f.l), px(f.t), px(f.w), px(f.height))) << f.name;
        EXPECT_EQ(g->palette().color(QPalette::Window), QColor(224, 224, 224)) << f.name;
    }
}

TEST(Layout, ControlsCaptionsAndPlaces)
{
    WindowHarness h;
    struct Case
    {
        const char *name, *parent, *caption;
        int left, top; // twips; -1 to skip the position check
    };
    const Case cases[] = {
        {"Combo1", "Frame5", nullptr, 1080, 240},
        {"Combo2", "Frame5", nullptr, 1080, 600},
        {"Combo3", "Frame5", "无校验", 1080, 960},
        {"Combo4", "Frame5", "8", 1080, 1320},
        {"Combo5", "Frame5", "1", 1080, 1680},
        {"Label3", "Frame5", "串口号", -1, -1},
        {"Label5_2", "Frame5", "波特率", -1, -1},
        {"Label5_0", "Frame5", "校验位", -1, -1},
        {"Label5_1", "Frame5", "数据位", -1, -1},
        {"Label5_3", "Frame5", "停止位", -1, -1},
        {"Picture2", "Frame5", nullptr, 600, 2160},
        {"cmdCom", "Frame5", "打开串口", 120, 2520},
        {"Command1", "Frame5", "关闭串口", 1320, 2520},
        {"Label7", "Frame5", "串口发送数据", -1, 3000},
        {"txtCommand", "Frame5", nullptr, -1, 3360},
        {"Label1_0", "Frame5", "串口接收数据", -1, 3840},
        {"txtState", "Frame5", nullptr, -1, 4080},
        {"Label1_1", "Frame5", "成功接收/循环 计数", -1, 5520},
        {"lblErrCounter", "Frame5", nullptr, 120, 5880},
        {"lblCounter", "Frame5", nullptr, 1200, 5880},
        {"Label1_2", "Frame5", "适用产品型号", -1, 6240},
        {"Label1_3", "Frame5", "KC4420P", -1, 6480},
        {"Label1_4", "Frame5", "KB4420P", -1, 6720},
        {"Label1_5", "Frame5", "KA4420P", -1, 6960},
        {"Label8_0", "Frame10", "设备地址", 120, -1},
        {"txtStationID", "Frame10", nullptr, 840, 360},
        {"Label8_3", "Frame10", "功 能 码", 1560, -1},
        {"txtFunID", "Frame10", nullptr, 2280, 360},
        {"Label8_1", "Frame10", "超始地址", 2880, -1},
        {"txtStartID", "Frame10", nullptr, 3600, 360},
        {"Label8_2", "Frame10", "数据长度", 4320, -1},
        {"txtDataLength", "Frame10", nullptr, 5040, 360},
        {"Label2_7", "Frame12", "将地址      修改为  ", 240, -1},
        {"txtSetID_0", "Frame12", nullptr, 840, 360},
        {"txtSetID_1", "Frame12", nullptr, 1920, 360},
        {"cmdChangeID", "Frame12", "执行", 2760, 240},
        {"cmdReadAdd", "Frame12", "读地址", 4560, 240},
        {"Label2_13", "Frame12", "RV40及RV52系列通过产品内部拔码开关修改地址，软件修改仅限RV27系列",
         240, -1},
        {"Label8_4", "Frame3", "定时时长(ms)", 240, -1},
        {"txtTimerSet", "Frame3", nullptr, 1560, -1},
        {"comDoOnce", "Frame3", "单次", 2880, 6000},
        {"cmdOneM", "Frame3", "循环", 4020, 6000},
        {"cmdStopOnce", "Frame3", "停止", 5160, 6000},
        {"Label8_5", "Frame3", "设备信息", 480, -1},
        {"TXTtype", "Frame3", nullptr, 1680, -1},
        {"Command2", "Frame3", "读设备信息", 3720, 6840},
        {"txtUp", "Frame2", nullptr, 120, 240},
        {"Command3", "frmMain", "主动上传模式", 9720, 7200},
    };
    for (const auto &c : cases) {
        auto *w = h.find<QWidget>(c.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parentWidget()->objectName(), c.parent) << c.name;
        if (c.caption) {
            QString caption;
            if (auto *l = qobject_cast<QLabel *>(w))
                caption = l->text();
            else if (auto *b = qobject_cast<QPushButton *>(w))
                caption = b->text();
            else if (auto *cb = qobject_cast<QComboBox *>(w))
                caption = cb->itemText(0);
            EXPECT_EQ(caption, QString::fromUtf8(c.caption)) << c.name;
        }
        if (c.left >= 0) {
            EXPECT_EQ(w->x(), px(c.left)) << c.name;
        }
        if (c.top >= 0) {
            EXPECT_EQ(w->y(), px(c.top)) << c.name;
        }
        // Every control stays inside its parent, so nothing is hidden.
        EXPECT_TRUE(w->parentWidget()->rect().contains(w->geometry())) << c.name;
    }
    EXPECT_EQ(h.text("txtUp"), "");
    EXPECT_EQ(h.text("TXTtype"), "1000");
    EXPECT_EQ(h.find<QPushButton>("Command3")->font().bold(), true);
    EXPECT_DOUBLE_EQ(h.find<QPushButton>("Command3")->font().pointSizeF(), 14.25);
}

TEST(Layout, RegisterRows)
{
    WindowHarness h;
    const int captionLabel[15] = {2, 1, 8, 6, 5, 12, 9, 11, 4, 14, 15, 13, 7, 10, 16};
    const char *captions[15] = {
        "0 温度值",       "1 湿度值",       "2 报警状态",     "3 温度误差校准", "4 湿度误差校准",
        "5 温度报警上限", "6 温度报警下限", "7 湿度报警上限", "8 湿度报警下限", "9 温度控制回差",
        "10湿度控制回差", "11主动上传时间", "12波特率",       "13通讯方式",     "14控制模式"};
    for (int r = 0; r < 15; ++r) {
        auto *value = h.find<QLineEdit>(QStringLiteral("txtValue_%1").arg(r));
        auto *caption = h.find<QLabel>(QStringLiteral("lblDanWei_%1").arg(captionLabel[r]));
        EXPECT_EQ(caption->text(), QString::fromUtf8(captions[r]));
        EXPECT_EQ(value->accessibleName(), QString::fromUtf8(captions[r]));
        EXPECT_EQ(value->y(), px(360 + 360 * r)) << r;
        EXPECT_EQ(value->x(), px(1680));
        EXPECT_EQ(value->text(), "0");
        EXPECT_EQ(caption->palette().color(QPalette::WindowText), QColor(Qt::black));
    }
    const std::pair<const char *, const char *> notes[] = {
        {"lblDanWei_0", "℃"},
        {"lblDanWei_3", "%Rh"},
        {"Label2_9", "值 1-温度报警 2-湿度报警 0-正常"},
        {"Label2_4", "值范围为：-10.00到10.00"},
        {"Label2_1", "值范围为：-10.00到10.00"},
        {"Label2_10", "值范围为：-10.00到10.00"},
        {"Label2_11", "值范围为：-10.00到10.00"},
        {"Label2_8", "单位：秒 范围1-3600"},
        {"Label2_3", "值:2400,4800,9600,19200"},
        {"Label2_5", "1:MODBUS 2:HTTPD"},
        {"Label2_12", "1:降温除湿 2:加温加湿"},
    };
    for (const auto &[name, text] : notes) {
        auto *l = h.find<QLabel>(name);
        EXPECT_EQ(l->text(), QString::fromUtf8(text));
        EXPECT_EQ(l->palette().color(QPalette::WindowText), QColor(255, 0, 0)) << name;
    }
    EXPECT_EQ(h.find<QLabel>("lblDanWei_0")->font().family(), "Arial");
}

TEST(Layout, EveryInputHasAnAccessibleName)
{
    WindowHarness h;
    for (auto *w : h.window->findChildren<QWidget *>()) {
        if (qobject_cast<QLineEdit *>(w) || qobject_cast<QPushButton *>(w) ||
            qobject_cast<QComboBox *>(w) || qobject_cast<QPlainTextEdit *>(w)) {
            EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
        }
    }
    EXPECT_EQ(h.find<QPushButton>("cmdSet_0")->accessibleName(), "设置 3 温度误差校准");
}
