#include "ui/MainWindow.h"

#include "operations/NumberText.h"
#include "operations/RegisterMap.h"
#include "protocol/FrameCodec.h"
#include "protocol/PortNaming.h"
#include "protocol/ResponseReceiver.h"
#include "protocol/SerialLink.h"
#include "ui/LampImages.h"
#include "ui/MessageSink.h"

#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScrollBar>
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

QComboBox *list(QWidget *parent, const QString &name, const QStringList &entries, QRect at,
                const QString &accessible)
{
    auto *c = new QComboBox(parent);
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

// The port list refreshes its tooltips each time it opens, so an adapter
// plugged in after start-up shows its device.
class PortList : public QComboBox
{
public:
    using QComboBox::QComboBox;
    std::function<void()> beforePopup;
    void showPopup() override
    {
        if (beforePopup)
            beforePopup();
        QComboBox::showPopup();
    }
};

double counterValue(const QLabel *counter)
{
    return numericValue(counter->text()).value_or(0);
}

} // namespace

MainWindow::MainWindow(SerialLink *link, MessageSink *messages, QWidget *parent)
    : QWidget(parent), m_link(link), m_messages(messages),
      m_clock([] { return QDateTime::currentDateTime(); })
{
    m_link->setParent(this);
    buildControls();
    connectHandlers();
    startUp();
}

MainWindow::~MainWindow() = default;

QString MainWindow::settingsText(std::int32_t rate)
{
    return QString::number(rate) + QStringLiteral(",N,8,1");
}

void MainWindow::buildControls()
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(msg::appTitle);
    setFixedSize(px(13050), px(9345));
    setBackground(this, formGrey);
    // The layout was drawn for a 9-point system font; larger defaults clip captions.
    QFont windowFont = font();
    windowFont.setPointSizeF(9);
    setFont(windowFont);

    // Serial-port settings, traces, counters and models.
    auto *frame5 = frame(this, QStringLiteral("Frame5"), QStringLiteral("串口设置"),
                         twipRect(120, 120, 2415, 7815));
    const QString lists[4][3] = {{QStringLiteral("Label5_2"), QStringLiteral("波特率"), {}},
                                 {QStringLiteral("Label5_0"), QStringLiteral("校验位"), {}},
                                 {QStringLiteral("Label5_1"), QStringLiteral("数据位"), {}},
                                 {QStringLiteral("Label5_3"), QStringLiteral("停止位"), {}}};
    label(frame5, QStringLiteral("Label3"), QStringLiteral("串口号"), twipRect(360, 270, 700, 255));
    auto *ports = new PortList(frame5);
    ports->setObjectName(QStringLiteral("Combo1"));
    for (int n = 1; n <= 25; ++n)
        ports->addItem(QStringLiteral("COM%1").arg(n));
    ports->setEditable(false);
    ports->setGeometry(twipRect(1080, 240, 855, 300));
    ports->setAccessibleName(QStringLiteral("串口号"));
    ports->setStyleSheet(QStringLiteral("QComboBox { padding-left: 2px; padding-right: 0px; }"));
    ports->beforePopup = [this] { refreshPortTooltips(); };
    // The design text shows until start-up selects the first port.
    ports->setCurrentIndex(3);
    Combo1 = ports;
    Combo2 = list(frame5, QStringLiteral("Combo2"), {QStringLiteral("9600")},
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
    imgNotConnected = lamp(QStringLiteral("imgNotConnected"), LampColour::Red);
    ImgYellow = lamp(QStringLiteral("ImgYellow"), LampColour::Yellow);
    imgConnected = lamp(QStringLiteral("imgConnected"), LampColour::Green);

    cmdCom = button(frame5, QStringLiteral("cmdCom"), QStringLiteral("打开串口"),
                    twipRect(120, 2520, 975, 375));
    Command1 = button(frame5, QStringLiteral("Command1"), QStringLiteral("关闭串口"),
                      twipRect(1320, 2520, 975, 375));
    label(frame5, QStringLiteral("Label7"), QStringLiteral("串口发送数据"),
          twipRect(120, 3000, 2175, 255));
    txtCommand = multiLine(frame5, QStringLiteral("txtCommand"), twipRect(120, 3360, 2175, 435),
                           QStringLiteral("串口发送数据"));
    label(frame5, QStringLiteral("Label1_0"), QStringLiteral("串口接收数据"),
          twipRect(120, 3840, 2175, 255));
    txtState = multiLine(frame5, QStringLiteral("txtState"), twipRect(120, 4080, 2175, 975),
                         QStringLiteral("串口接收数据"));
    label(frame5, QStringLiteral("Label1_1"), QStringLiteral("成功接收/循环 计数"),
          twipRect(120, 5520, 2175, 255));
    lblErrCounter = label(frame5, QStringLiteral("lblErrCounter"), QStringLiteral("0"),
                          twipRect(120, 5880, 900, 255));
    new LineWidget(frame5, QStringLiteral("Line1_0"), QPoint(px(1140), px(5880) + 15),
                   QPoint(px(1060), px(6120)));
    lblCounter = label(frame5, QStringLiteral("lblCounter"), QStringLiteral("0"),
                       twipRect(1200, 5880, 900, 255));
    label(frame5, QStringLiteral("Label1_2"), QStringLiteral("适用产品型号"),
          twipRect(120, 6240, 2175, 255), noteRed);
    const char *models[3] = {"KC4420P", "KB4420P", "KA4420P"};
    for (int i = 0; i < 3; ++i)
        label(frame5, QStringLiteral("Label1_%1").arg(i + 3), QString::fromLatin1(models[i]),
              twipRect(360, 6480 + 240 * i, 1800, 240));

    // The four request fields.
    auto *frame10 = frame(this, QStringLiteral("Frame10"), QStringLiteral("MODBUS设置"),
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
    txtStationID = fieldBoxes[0];
    txtFunID = fieldBoxes[1];
    txtStartID = fieldBoxes[2];
    txtDataLength = fieldBoxes[3];

    // Address read and change.
    auto *frame12 = frame(this, QStringLiteral("Frame12"), QStringLiteral("设备地址修改操作"),
                          twipRect(2640, 960, 6375, 1215));
    label(frame12, QStringLiteral("Label2_7"), QStringLiteral("将地址      修改为  "),
          twipRect(240, 390, 2400, 255));
    txtSetID << box(frame12, QStringLiteral("txtSetID_0"), QStringLiteral("1"),
                    twipRect(840, 360, 435, 300), QStringLiteral("将地址"));
    txtSetID << box(frame12, QStringLiteral("txtSetID_1"), QStringLiteral("1"),
                    twipRect(1920, 360, 555, 300), QStringLiteral("修改为"));
    cmdChangeID = button(frame12, QStringLiteral("cmdChangeID"), QStringLiteral("执行"),
                         twipRect(2760, 240, 1215, 375));
    cmdReadAdd = button(frame12, QStringLiteral("cmdReadAdd"), QStringLiteral("读地址"),
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
    auto *frame3 = frame(this, QStringLiteral("Frame3"), QStringLiteral("数据及参数查询"),
                         twipRect(2640, 2160, 6375, 9345 - 2160));
    // Row captions and their notes carry these label indices.
    const int captionIndex[registerCount] = {2, 1, 8, 6, 5, 12, 9, 11, 4, 14, 15, 13, 7, 10, 16};
    const int noteIndex[registerCount] = {-1, -1, 9, 4, 1, -1, -1, -1, -1, 10, 11, 8, 3, 5, 12};
    QFont unitFont(QStringLiteral("Arial"));
    unitFont.setPointSizeF(10.5);
    for (int r = 0; r < registerCount; ++r) {
        const RegisterInfo &reg = registerMap()[r];
        const int top = 360 + 360 * r;
        const QString caption = QString::fromUtf8(reg.caption);
        label(frame3, QStringLiteral("lblDanWei_%1").arg(captionIndex[r]), caption,
              twipRect(240, top + 30, 1395, 255), Qt::black, false);
        txtValue << box(frame3, QStringLiteral("txtValue_%1").arg(r), QStringLiteral("0"),
                        twipRect(1680, top, 1000, 270), caption);
        if (reg.writable)
            cmdSet << button(frame3, QStringLiteral("cmdSet_%1").arg(r - firstWritable),
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
    txtTimerSet = box(frame3, QStringLiteral("txtTimerSet"), QStringLiteral("1000"),
                      twipRect(1560, 6030, 615, 300), QStringLiteral("定时时长(ms)"));
    comDoOnce = button(frame3, QStringLiteral("comDoOnce"), QStringLiteral("单次"),
                       twipRect(2880, 6000, 975, 375));
    cmdOneM = button(frame3, QStringLiteral("cmdOneM"), QStringLiteral("循环"),
                     twipRect(4020, 6000, 975, 375));
    cmdStopOnce = button(frame3, QStringLiteral("cmdStopOnce"), QStringLiteral("停止"),
                         twipRect(5160, 6000, 975, 375));
    label(frame3, QStringLiteral("Label8_5"), QStringLiteral("设备信息"),
          twipRect(480, 6900, 1100, 255));
    TXTtype = box(frame3, QStringLiteral("TXTtype"), QStringLiteral("1000"),
                  twipRect(1680, 6870, 1935, 300), QStringLiteral("设备信息"));
    // The button keeps its place; its height stops at the window's edge.
    Command2 = button(frame3, QStringLiteral("Command2"), QStringLiteral("读设备信息"),
                      twipRect(3720, 6840, 1215, 9345 - 2160 - 6840 - 15));

    m_timer2 = new QTimer(this);
    m_timer2->setObjectName(QStringLiteral("Timer2"));
    // Ticks must not drift or bunch, or a 50 ms poll would miss cycles.
    m_timer2->setTimerType(Qt::PreciseTimer);

    // The upload log, with the upload button lying over the frame's lower part.
    auto *frame2 = frame(this, QStringLiteral("Frame2"), QStringLiteral("上传记录"),
                         twipRect(9120, 120, 3855, 7815));
    txtUp = multiLine(frame2, QStringLiteral("txtUp"), twipRect(120, 240, 3615, 6735),
                      QStringLiteral("上传记录"));
    txtUp->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtUp->setUndoRedoEnabled(false); // no undo history growing with the log
    Command3 = button(this, QStringLiteral("Command3"), QStringLiteral("主动上传模式"),
                      twipRect(9720, 7200, 2400, 600));
    QFont uploadFont(QStringLiteral("宋体"));
    uploadFont.setPointSizeF(14.25);
    uploadFont.setBold(true);
    Command3->setFont(uploadFont);
    Command3->raise();
}

void MainWindow::connectHandlers()
{
    connect(Combo1, &QComboBox::activated, this, &MainWindow::portChoice);
    connect(Combo2, &QComboBox::activated, this, &MainWindow::baudChoice);
    connect(cmdCom, &QPushButton::clicked, this, &MainWindow::openClicked);
    connect(Command1, &QPushButton::clicked, this, &MainWindow::closeClicked);
    connect(comDoOnce, &QPushButton::clicked, this, &MainWindow::singleRead);
    connect(cmdOneM, &QPushButton::clicked, this, &MainWindow::loopStart);
    connect(cmdStopOnce, &QPushButton::clicked, this, &MainWindow::loopStop);
    connect(m_timer2, &QTimer::timeout, this, &MainWindow::timerTick);
    for (int i = 0; i < cmdSet.size(); ++i)
        connect(cmdSet[i], &QPushButton::clicked, this, [this, i] { parameterWrite(i); });
    connect(cmdReadAdd, &QPushButton::clicked, this, &MainWindow::addressRead);
    connect(cmdChangeID, &QPushButton::clicked, this, &MainWindow::addressChange);
    connect(Command2, &QPushButton::clicked, this, &MainWindow::deviceInfo);
    connect(Command3, &QPushButton::clicked, this, &MainWindow::uploadMode);
    connect(m_link, &SerialLink::comm, this, &MainWindow::OnComm);
}

void MainWindow::startUp()
{
    txtStationID->setText(QStringLiteral("1"));
    Combo2->clear();
    Combo2->addItems({QStringLiteral("2400"), QStringLiteral("4800"), QStringLiteral("9600"),
                      QStringLiteral("19200"), QStringLiteral("38400")});
    m_state.CommNum = 1;
    txtDataLength->setText(QStringLiteral("15"));
    txtStationID->setText(QStringLiteral("1"));
    m_state.CommRate = 9600;
    // A position past the end of the list reads as empty text and never matches.
    for (int p = 0; p <= 23; ++p) {
        if (p < Combo2->count() && Combo2->itemText(p) == QStringLiteral("9600")) {
            Combo2->setCurrentIndex(p);
            baudChoice();
            break;
        }
    }
    m_link->setCommPort(1);
    m_link->setInputMode(1);
    m_link->setInputLen(0);
    m_link->discardInput();
    m_link->discardOutput();
    m_link->setSThreshold(0);
    m_link->setRThreshold(1);
    m_link->setInputMode(1);
    m_link->setSettings(settingsText(m_state.CommRate));
    refreshPortTooltips();
    const QString first = QStringLiteral("COM%1").arg(m_state.CommNum);
    for (int p = 0; p <= 23; ++p) {
        if (p < Combo1->count() && Combo1->itemText(p) == first) {
            Combo1->setCurrentIndex(p);
            portChoice();
            break;
        }
    }
    lblCounter->setText(QStringLiteral("1"));
    lblErrCounter->setText(QStringLiteral("1"));
    m_state.RecvCount = 1;
    m_state.LoopOn = true;
}

void MainWindow::refreshPortTooltips()
{
    const QStringList devices = portDevices();
    for (int p = 0; p < Combo1->count(); ++p) {
        const QString device = devices.value(p);
        Combo1->setItemData(p, device.isEmpty() ? QStringLiteral("无设备") : device,
                            Qt::ToolTipRole);
    }
}

void MainWindow::portChoice()
{
    if (m_link->isOpen())
        m_link->close();
    if (Combo1->currentIndex() < 0) {
        showMessage(UserMessage{msg::choosePort});
        return;
    }
    m_link->setCommPort(Combo1->currentIndex() + 1);
    m_state.CommNum = std::int16_t(m_link->commPort());
    m_link->setSettings(settingsText(m_state.CommRate));
    if (m_link->isOpen())
        return;
    // A port that does not open must not leave the green lamp over a closed link.
    if (!m_link->open())
        bringToFront(imgNotConnected);
    OpenOnComm();
    m_state.LoopOn = true;
}

void MainWindow::baudChoice()
{
    m_state.CommRate = std::int32_t(numericValue(Combo2->currentText()).value_or(m_state.CommRate));
    if (m_link->isOpen()) {
        m_link->close();
        m_link->setSettings(settingsText(m_state.CommRate));
        if (!m_link->open()) {
            bringToFront(imgNotConnected);
            showMessage(UserMessage{msg::portBusy, msg::errorTitle, true});
        }
    } else {
        m_link->setSettings(settingsText(m_state.CommRate));
    }
}

void MainWindow::openClicked()
{
    bool opened;
    if (!m_link->isOpen()) {
        m_link->setSettings(settingsText(m_state.CommRate));
        bringToFront(imgConnected);
        opened = m_link->open();
    } else {
        bringToFront(imgConnected);
        m_link->close();
        opened = m_link->open();
    }
    if (!opened) {
        bringToFront(imgNotConnected);
        showMessage(UserMessage{msg::portBusy, msg::errorTitle, true});
    }
}

void MainWindow::closeClicked()
{
    bringToFront(imgNotConnected);
    if (m_link->isOpen())
        m_link->close();
}

void MainWindow::OpenOnComm()
{
    m_link->setRThreshold(1);
    m_link->setInputMode(1);
}

void MainWindow::singleRead()
{
    const Planned planned = planRegisterRead(
        {txtStationID->text(), txtFunID->text(), txtStartID->text(), txtDataLength->text()});
    if (const auto *refusal = std::get_if<UserMessage>(&planned)) {
        showMessage(*refusal);
        return;
    }
    const RequestPlan &plan = std::get<RequestPlan>(planned);
    txtState->clear();
    lblCounter->setText(QString::number(qint64(counterValue(lblCounter)) + 1));
    if (!m_link->isOpen()) {
        showMessage(UserMessage{msg::portClosed});
        bringToFront(imgNotConnected);
        m_state.LoopOn = false;
        return;
    }
    bringToFront(ImgYellow);
    prepareForRequest();
    m_state.RecLength = std::int16_t(plan.threshold);
    m_link->setRThreshold(m_state.RecLength);
    m_state.CmdType = plan.cmdType;
    m_link->output(plan.frame);
    txtCommand->setPlainText(sentTrace(plan.frame));
}

void MainWindow::loopStart()
{
    lblCounter->setText(QStringLiteral("1"));
    lblErrCounter->setText(QStringLiteral("1"));
    m_state.RecvCount = 1;
    const auto period = planPolling(txtTimerSet->text());
    if (const auto *refusal = std::get_if<UserMessage>(&period)) {
        showMessage(*refusal);
        return;
    }
    m_state.LoopOn = true;
    m_timer2->start(std::get<int>(period));
}

void MainWindow::loopStop()
{
    m_timer2->stop();
}

void MainWindow::timerTick()
{
    // A box opened by an earlier tick is still up: do not stack another.
    if (m_tickMessageOpen)
        return;
    if (!numericValue(txtDataLength->text()))
        txtDataLength->setText(QStringLiteral("1"));
    if (counterValue(lblCounter) > 65535)
        lblCounter->setText(QStringLiteral("0"));
    if (m_state.LoopOn) {
        QScopedValueRollback<bool> inTick(m_inTick, true);
        singleRead();
    }
}

void MainWindow::prepareForRequest()
{
    m_link->discardInput();
    m_link->setInputLen(0);
    m_link->setInputMode(1);
    m_link->setRThreshold(0); // no receive event while the request is built
}

// Common tail of the write, address and device-information requests: the port
// is prepared even when closed, so the request still reaches its closed-port
// branch.
void MainWindow::dispatch(const RequestPlan &plan)
{
    m_state.CmdType = plan.cmdType;
    txtState->clear();
    prepareForRequest();
    if (plan.cmdType == RequestKind::AddressChange)
        m_state.RecLength = std::int16_t(plan.threshold);
    m_link->setRThreshold(plan.threshold);
    txtCommand->setPlainText(sentTrace(plan.frame));
    if (m_link->isOpen()) {
        bringToFront(imgConnected);
        m_link->output(plan.frame);
    } else {
        bringToFront(imgNotConnected);
    }
}

void MainWindow::parameterWrite(int index)
{
    const Planned planned =
        planParameterWrite(index, txtValue[index + firstWritable]->text(), txtStationID->text());
    if (const auto *refusal = std::get_if<UserMessage>(&planned))
        showMessage(*refusal);
    else
        dispatch(std::get<RequestPlan>(planned));
}

void MainWindow::addressRead()
{
    dispatch(planAddressRead());
}

void MainWindow::addressChange()
{
    const Planned planned = planAddressChange(txtSetID[0]->text(), txtSetID[1]->text());
    if (const auto *refusal = std::get_if<UserMessage>(&planned))
        showMessage(*refusal);
    else
        dispatch(std::get<RequestPlan>(planned));
}

void MainWindow::deviceInfo()
{
    const Planned planned = planDeviceInfo(txtStationID->text());
    if (const auto *refusal = std::get_if<UserMessage>(&planned)) {
        showMessage(*refusal);
        return;
    }
    txtCommand->clear();
    dispatch(std::get<RequestPlan>(planned));
}

void MainWindow::uploadMode()
{
    const RequestPlan plan = planUploadMode();
    m_link->discardInput();
    m_link->setInputLen(0);
    m_link->setInputMode(1);
    bringToFront(ImgYellow);
    m_link->discardInput();
    m_link->setInputLen(0);
    m_link->setRThreshold(plan.threshold);
    m_state.CmdType = plan.cmdType;
    lblCounter->setText(QStringLiteral("0"));
    lblErrCounter->setText(QStringLiteral("0"));
    m_state.RecvCount = 0;
    txtUp->clear();
    m_upload.reset();
}

void MainWindow::OnComm()
{
    m_state.RecvCount = nextRecvCount(m_state.RecvCount);
    lblErrCounter->setText(QString::number(m_state.RecvCount));
    if (m_link->commEvent() != CommEventCode::Receive) {
        // The link closed itself because the line failed: show it.
        if (m_link->commEvent() == CommEventCode::LineLost && !m_link->isOpen())
            bringToFront(imgNotConnected);
        return;
    }
    const QByteArray bytes = m_link->input();
    m_link->discardInput();
    const Delivery d =
        decodeDelivery(m_state.CmdType, bytes, startRegisterOf(txtStartID->text()), &m_upload);
    if (d.rearm > 0)
        m_link->setRThreshold(d.rearm);
    // Values first: the hex box's layout is the slower of the two.
    for (const ValueText &v : d.values)
        txtValue[v.index]->setText(v.text);
    txtState->setPlainText(d.hex);
    for (const UploadReadings &r : d.uploads) {
        // appendPlainText adds one block: the same cost at line 1 and line 1,000,000.
        txtUp->appendPlainText(m_clock().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                               QLatin1Char(' ') + r.first + QLatin1Char(' ') + r.second);
    }
    if (d.address) {
        txtSetID[0]->setText(QString::number(*d.address));
        txtStationID->setText(QString::number(*d.address));
    }
    if (d.deviceText)
        TXTtype->setText(*d.deviceText);
    bringToFront(d.rejected ? imgNotConnected : imgConnected);
}

void MainWindow::showMessage(const UserMessage &message)
{
    if (!m_inTick) {
        m_messages->show(this, message);
        return;
    }
    QScopedValueRollback<bool> open(m_tickMessageOpen, true);
    m_messages->show(this, message);
}

void MainWindow::bringToFront(QLabel *lamp)
{
    lamp->raise();
}

QString MainWindow::frontLamp() const
{
    const QObjectList &lamps = imgConnected->parentWidget()->children();
    for (auto it = lamps.crbegin(); it != lamps.crend(); ++it) {
        if ((*it)->isWidgetType())
            return (*it)->objectName();
    }
    return {};
}

} // namespace kc
