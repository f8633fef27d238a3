#include "ui/MainForm.h"

#include "operations/Messages.h"
#include "operations/RegisterMap.h"
#include "protocol/PortNaming.h"
#include "ui/LampImages.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QStyle>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

namespace kc {

namespace {

const QColor formGrey(224, 224, 224);
const QColor noteRed(255, 0, 0);

// Layout is given in twips; 15 twips make one device-independent pixel.
int px(int twips)
{
    return (twips + 7) / 15;
}
QRect twipRect(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

void setBackground(QWidget *w, const QColor &colour)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Window, colour);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

QLabel *label(QWidget *parent, const QString &name, const QString &text, QRect at,
              const QColor &fg = Qt::black, bool grey = true)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setGeometry(at);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, fg);
    l->setPalette(p);
    if (grey)
        setBackground(l, formGrey);
    return l;
}

QLineEdit *box(QWidget *parent, const QString &name, const QString &text, QRect at,
               const QString &accessible)
{
    auto *e = new QLineEdit(text, parent);
    e->setObjectName(name);
    e->setGeometry(at);
    e->setAccessibleName(accessible);
    return e;
}

QPushButton *button(QWidget *parent, const QString &name, const QString &text, QRect at,
                    const QString &accessible = {})
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setGeometry(at);
    b->setAccessibleName(accessible.isEmpty() ? text : accessible);
    return b;
}

QGroupBox *frame(QWidget *parent, const QString &name, const QString &caption, QRect at)
{
    auto *g = new QGroupBox(caption, parent);
    g->setObjectName(name);
    g->setGeometry(at);
    setBackground(g, formGrey);
    return g;
}

// The lists are narrower than their longer entries ("COM10" read "C...0"):
// the open list is as wide as its entries, while the box keeps its place and
// size. The port list refreshes its tooltips each time it opens, so an
// adapter plugged in after start-up shows its device.
class FittedList : public QComboBox
{
public:
    using QComboBox::QComboBox;
    std::function<void()> beforePopup;
    void showPopup() override
    {
        if (beforePopup)
            beforePopup();
        QAbstractItemView *v = view();
        int widest = 0;
        for (int i = 0; i < count(); ++i)
            widest = std::max(widest, v->sizeHintForIndex(model()->index(i, 0)).width());
        const int scrollBar = count() > maxVisibleItems()
                                  ? v->style()->pixelMetric(QStyle::PM_ScrollBarExtent)
                                  : 0;
        v->setMinimumWidth(widest + scrollBar + 2 * v->frameWidth());
        QComboBox::showPopup();
    }
};

QComboBox *list(QWidget *parent, const QString &name, const QStringList &entries, QRect at,
                const QString &accessible)
{
    auto *c = new FittedList(parent);
    c->setObjectName(name);
    c->addItems(entries);
    c->setGeometry(at);
    c->setAccessibleName(accessible);
    // Narrow lists: keep the text clear of the arrow.
    c->setStyleSheet(QStringLiteral("QComboBox { padding-left: 2px; padding-right: 0px; }"));
    return c;
}

QPlainTextEdit *multiLine(QWidget *parent, const QString &name, QRect at, const QString &accessible)
{
    auto *t = new QPlainTextEdit(parent);
    t->setObjectName(name);
    t->setGeometry(at);
    t->setAccessibleName(accessible);
    // The traces and the log are records of the line: selectable, not editable.
    t->setReadOnly(true);
    return t;
}

// A plain line drawn between two points of its parent.
class LineWidget : public QWidget
{
public:
    LineWidget(QWidget *parent, const QString &name, QPoint from, QPoint to) : QWidget(parent)
    {
        setObjectName(name);
        const QRect r = QRect(from, to).normalized().adjusted(0, 0, 1, 1);
        setGeometry(r);
        m_from = from - r.topLeft();
        m_to = to - r.topLeft();
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.drawLine(m_from, m_to);
    }

private:
    QPoint m_from, m_to;
};

} // namespace

MainForm buildMainForm(QWidget *window, std::function<void()> beforePortPopup)
{
    MainForm f;
    f.client = window;
    window->setObjectName(QStringLiteral("frmMain"));
    window->setWindowTitle(msg::appTitle);
    window->setFixedSize(px(13050), px(9345));
    setBackground(window, formGrey);
    // The layout was drawn for a 9-point system font; larger defaults clip captions.
    QFont windowFont = window->font();
    windowFont.setPointSizeF(9);
    window->setFont(windowFont);

    // Serial-port settings, traces, counters and models.
    auto *frame5 = frame(window, QStringLiteral("Frame5"), QStringLiteral("串口设置"),
                         twipRect(120, 120, 2415, 7815));
    const QString lists[4][3] = {{QStringLiteral("Label5_2"), QStringLiteral("波特率"), {}},
                                 {QStringLiteral("Label5_0"), QStringLiteral("校验位"), {}},
                                 {QStringLiteral("Label5_1"), QStringLiteral("数据位"), {}},
                                 {QStringLiteral("Label5_3"), QStringLiteral("停止位"), {}}};
    label(frame5, QStringLiteral("Label3"), QStringLiteral("串口号"), twipRect(360, 270, 700, 255));
    auto *ports = new FittedList(frame5);
    ports->setObjectName(QStringLiteral("Combo1"));
    for (int n = 1; n <= portCount; ++n)
        ports->addItem(QStringLiteral("COM%1").arg(n));
    ports->setEditable(false);
    ports->setGeometry(twipRect(1080, 240, 855, 300));
    ports->setAccessibleName(QStringLiteral("串口号"));
    ports->setStyleSheet(QStringLiteral("QComboBox { padding-left: 2px; padding-right: 0px; }"));
    ports->beforePopup = std::move(beforePortPopup);
    // The design text shows until start-up selects the first port.
    ports->setCurrentIndex(3);
    f.portList = ports;
    f.baudList = list(frame5, QStringLiteral("Combo2"), {QStringLiteral("9600")},
                      twipRect(1080, 600, 855, 300), QStringLiteral("波特率"));
    const QStringList fixed[3] = {
        {QStringLiteral("无校验")}, {QStringLiteral("8")}, {QStringLiteral("1")}};
    for (int i = 0; i < 4; ++i)
        label(frame5, lists[i][0], lists[i][1], twipRect(360, 630 + 360 * i, 700, 255));
    for (int i = 0; i < 3; ++i)
        list(frame5, QStringLiteral("Combo%1").arg(i + 3), fixed[i],
             twipRect(1080, 960 + 360 * i, 855, 300), lists[i + 1][1]);

    auto *picture2 = new QFrame(frame5);
    picture2->setObjectName(QStringLiteral("Picture2"));
    picture2->setGeometry(twipRect(600, 2160, 900, 255));
    setBackground(picture2, formGrey);
    auto lamp = [&](const QString &name, LampColour colour) {
        auto *img = new QLabel(picture2);
        img->setObjectName(name);
        img->setGeometry(px(360), 0, 16, 16);
        img->setPixmap(lampPixmap(colour));
        img->setToolTip(QStringLiteral("数据采集通讯状态指示"));
        return img;
    };
    // Designed with green on top of yellow on top of red.
    f.redLamp = lamp(QStringLiteral("imgNotConnected"), LampColour::Red);
    f.yellowLamp = lamp(QStringLiteral("ImgYellow"), LampColour::Yellow);
    f.greenLamp = lamp(QStringLiteral("imgConnected"), LampColour::Green);

    f.openButton = button(frame5, QStringLiteral("cmdCom"), QStringLiteral("打开串口"),
                          twipRect(120, 2520, 975, 375));
    f.closeButton = button(frame5, QStringLiteral("Command1"), QStringLiteral("关闭串口"),
                           twipRect(1320, 2520, 975, 375));
    label(frame5, QStringLiteral("Label7"), QStringLiteral("串口发送数据"),
          twipRect(120, 3000, 2175, 255));
    f.sentBox = multiLine(frame5, QStringLiteral("txtCommand"), twipRect(120, 3360, 2175, 435),
                          QStringLiteral("串口发送数据"));
    label(frame5, QStringLiteral("Label1_0"), QStringLiteral("串口接收数据"),
          twipRect(120, 3840, 2175, 255));
    f.receivedBox = multiLine(frame5, QStringLiteral("txtState"), twipRect(120, 4080, 2175, 975),
                              QStringLiteral("串口接收数据"));
    label(frame5, QStringLiteral("Label1_1"), QStringLiteral("成功接收/循环 计数"),
          twipRect(120, 5520, 2175, 255));
    f.receptionCounter = label(frame5, QStringLiteral("lblErrCounter"), QStringLiteral("0"),
                               twipRect(120, 5880, 900, 255));
    new LineWidget(frame5, QStringLiteral("Line1_0"), QPoint(px(1140), px(5880) + 15),
                   QPoint(px(1060), px(6120)));
    f.cycleCounter = label(frame5, QStringLiteral("lblCounter"), QStringLiteral("0"),
                           twipRect(1200, 5880, 900, 255));
    label(frame5, QStringLiteral("Label1_2"), QStringLiteral("适用产品型号"),
          twipRect(120, 6240, 2175, 255), noteRed);
    const char *models[3] = {"KC4420P", "KB4420P", "KA4420P"};
    for (int i = 0; i < 3; ++i)
        label(frame5, QStringLiteral("Label1_%1").arg(i + 3), QString::fromLatin1(models[i]),
              twipRect(360, 6480 + 240 * i, 1800, 240));

    // The four request fields.
    auto *frame10 = frame(window, QStringLiteral("Frame10"), QStringLiteral("MODBUS设置"),
                          twipRect(2640, 120, 6375, 735));
    struct Field
    {
        const char *labelName, *caption, *boxName, *design;
        int left;
    };
    const Field fields[4] = {{"Label8_0", "设备地址", "txtStationID", "2", 120},
                             {"Label8_3", "功 能 码", "txtFunID", "3", 1560},
                             {"Label8_1", "超始地址", "txtStartID", "0", 2880},
                             {"Label8_2", "数据长度", "txtDataLength", "11", 4320}};
    QLineEdit *fieldBoxes[4];
    for (int i = 0; i < 4; ++i) {
        const QString caption = QString::fromUtf8(fields[i].caption);
        label(frame10, QString::fromLatin1(fields[i].labelName), caption,
              twipRect(fields[i].left, 390, 700, 255));
        fieldBoxes[i] = box(frame10, QString::fromLatin1(fields[i].boxName),
                            QString::fromLatin1(fields[i].design),
                            twipRect(fields[i].left + 720, 360, 495, 300), caption);
    }
    f.stationBox = fieldBoxes[0];
    f.functionBox = fieldBoxes[1];
    f.startBox = fieldBoxes[2];
    f.countBox = fieldBoxes[3];

    // Address read and change.
    auto *frame12 = frame(window, QStringLiteral("Frame12"), QStringLiteral("设备地址修改操作"),
                          twipRect(2640, 960, 6375, 1215));
    label(frame12, QStringLiteral("Label2_7"), QStringLiteral("将地址      修改为  "),
          twipRect(240, 390, 2400, 255));
    f.currentAddressBox = box(frame12, QStringLiteral("txtSetID_0"), QStringLiteral("1"),
                              twipRect(840, 360, 435, 300), QStringLiteral("将地址"));
    f.targetAddressBox = box(frame12, QStringLiteral("txtSetID_1"), QStringLiteral("1"),
                             twipRect(1920, 360, 555, 300), QStringLiteral("修改为"));
    f.addressChangeButton = button(frame12, QStringLiteral("cmdChangeID"), QStringLiteral("执行"),
                                   twipRect(2760, 240, 1215, 375));
    f.addressReadButton = button(frame12, QStringLiteral("cmdReadAdd"), QStringLiteral("读地址"),
                                 twipRect(4560, 240, 1215, 375));
    auto *note =
        label(frame12, QStringLiteral("Label2_13"),
              QStringLiteral("RV40及RV52系列通过产品内部拔码开关修改地址，软件修改仅限RV27系列"),
              twipRect(240, 840, 5895, 255));
    QFont noteFont = note->font();
    noteFont.setPointSizeF(8);
    note->setFont(noteFont);

    // The register table, polling and device information. The frame reaches the
    // window's bottom edge so the device-information row below its designed
    // height stays visible.
    auto *frame3 = frame(window, QStringLiteral("Frame3"), QStringLiteral("数据及参数查询"),
                         twipRect(2640, 2160, 6375, 9345 - 2160));
    // Row captions and their notes carry these label indices.
    const int captionIndex[registerCount] = {2, 1, 8, 6, 5, 12, 9, 11, 4, 14, 15, 13, 7, 10, 16};
    const int noteIndex[registerCount] = {-1, -1, 9, 4, 1, -1, -1, -1, -1, 10, 11, 8, 3, 5, 12};
    QFont unitFont(QStringLiteral("Arial"));
    unitFont.setPointSizeF(10.5);
    for (int r = 0; r < registerCount; ++r) {
        const RegisterRow &reg = registerMap()[r];
        const int top = 360 + 360 * r;
        const QString caption = QString::fromUtf8(reg.caption);
        label(frame3, QStringLiteral("lblDanWei_%1").arg(captionIndex[r]), caption,
              twipRect(240, top + 30, 1395, 255), Qt::black, false);
        f.valueBoxes << box(frame3, QStringLiteral("txtValue_%1").arg(r), QStringLiteral("0"),
                            twipRect(1680, top, 1000, 270), caption);
        if (reg.writable)
            f.setButtons << button(frame3, QStringLiteral("cmdSet_%1").arg(r - firstWritable),
                                   QStringLiteral("设置"), twipRect(2760, top, 855, 275),
                                   QStringLiteral("设置 ") + caption);
        if (r < 2) {
            auto *unit = label(frame3, QStringLiteral("lblDanWei_%1").arg(r == 0 ? 0 : 3),
                               QString::fromUtf8(reg.legend), twipRect(2760, top + 15, 900, 255),
                               noteRed, false);
            unit->setFont(unitFont);
        } else if (noteIndex[r] >= 0) {
            const bool wide = r == 2;
            // Notes may run on to the frame's edge: the designed width clips
            // them in wider fonts.
            const int left = wide ? 2760 : 3720;
            label(frame3, QStringLiteral("Label2_%1").arg(noteIndex[r]),
                  QString::fromUtf8(reg.legend), twipRect(left, top + 30, 6375 - left - 90, 255),
                  noteRed);
        }
    }
    new LineWidget(frame3, QStringLiteral("Line2"), QPoint(px(120), px(5760)),
                   QPoint(px(6120), px(5760)));
    label(frame3, QStringLiteral("Label8_4"), QStringLiteral("定时时长(ms)"),
          twipRect(240, 6060, 1300, 255));
    f.periodBox = box(frame3, QStringLiteral("txtTimerSet"), QStringLiteral("1000"),
                      twipRect(1560, 6030, 615, 300), QStringLiteral("定时时长(ms)"));
    f.singleReadButton = button(frame3, QStringLiteral("comDoOnce"), QStringLiteral("单次"),
                                twipRect(2880, 6000, 975, 375));
    f.loopStartButton = button(frame3, QStringLiteral("cmdOneM"), QStringLiteral("循环"),
                               twipRect(4020, 6000, 975, 375));
    f.loopStopButton = button(frame3, QStringLiteral("cmdStopOnce"), QStringLiteral("停止"),
                              twipRect(5160, 6000, 975, 375));
    label(frame3, QStringLiteral("Label8_5"), QStringLiteral("设备信息"),
          twipRect(480, 6900, 1100, 255));
    f.deviceInfoBox = box(frame3, QStringLiteral("TXTtype"), QStringLiteral("1000"),
                          twipRect(1680, 6870, 1935, 300), QStringLiteral("设备信息"));
    // The button keeps its place; its height stops at the window's edge.
    f.deviceInfoButton = button(frame3, QStringLiteral("Command2"), QStringLiteral("读设备信息"),
                                twipRect(3720, 6840, 1215, 9345 - 2160 - 6840 - 15));

    f.pollTimer = new QTimer(window);
    f.pollTimer->setObjectName(QStringLiteral("Timer2"));
    // Ticks must not drift or bunch, or a 50 ms poll would miss cycles.
    f.pollTimer->setTimerType(Qt::PreciseTimer);

    // The upload log, with the upload button lying over the frame's lower part.
    auto *frame2 = frame(window, QStringLiteral("Frame2"), QStringLiteral("上传记录"),
                         twipRect(9120, 120, 3855, 7815));
    f.uploadLog = multiLine(frame2, QStringLiteral("txtUp"), twipRect(120, 240, 3615, 6735),
                            QStringLiteral("上传记录"));
    f.uploadLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    f.uploadLog->setUndoRedoEnabled(false); // no undo history growing with the log
    f.uploadButton = button(window, QStringLiteral("Command3"), QStringLiteral("主动上传模式"),
                            twipRect(9720, 7200, 2400, 600));
    QFont uploadFont(QStringLiteral("宋体"));
    uploadFont.setPointSizeF(14.25);
    uploadFont.setBold(true);
    f.uploadButton->setFont(uploadFont);
    f.uploadButton->raise();
    return f;
}
} // namespace kc
