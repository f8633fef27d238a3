#include "ui/MainWindow.h"

#include "operations/Counters.h"
#include "operations/NumberText.h"
#include "operations/RegisterMap.h"
#include "operations/Replies.h"
#include "protocol/FrameCodec.h"
#include "protocol/PortNaming.h"
#include "protocol/SerialLink.h"
#include "ui/MessageSink.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTimer>

namespace kc {

namespace {

QString settingsText(std::int32_t rate)
{
    return QString::number(rate) + QStringLiteral(",N,8,1");
}

} // namespace

MainWindow::MainWindow(SerialLink *link, MessageSink *messages, QWidget *parent)
    : QWidget(parent), m_link(link), m_messages(messages),
      m_clock([] { return QDateTime::currentDateTime(); }),
      m_form(buildMainForm(this, [this] { refreshPortTooltips(); }))
{
    m_link->setParent(this);
    connectHandlers();
    startUp();
}

MainWindow::~MainWindow() = default;

void MainWindow::connectHandlers()
{
    const MainForm &f = m_form;
    connect(f.portList, &QComboBox::activated, this, &MainWindow::portChoice);
    connect(f.baudList, &QComboBox::activated, this, &MainWindow::baudChoice);
    connect(f.openButton, &QPushButton::clicked, this, &MainWindow::openClicked);
    connect(f.closeButton, &QPushButton::clicked, this, &MainWindow::closeClicked);
    connect(f.singleReadButton, &QPushButton::clicked, this, &MainWindow::singleRead);
    connect(f.loopStartButton, &QPushButton::clicked, this, &MainWindow::loopStart);
    connect(f.loopStopButton, &QPushButton::clicked, this, &MainWindow::loopStop);
    connect(f.pollTimer, &QTimer::timeout, this, &MainWindow::timerTick);
    for (int i = 0; i < f.setButtons.size(); ++i)
        connect(f.setButtons[i], &QPushButton::clicked, this, [this, i] { parameterWrite(i); });
    connect(f.addressReadButton, &QPushButton::clicked, this, &MainWindow::addressRead);
    connect(f.addressChangeButton, &QPushButton::clicked, this, &MainWindow::addressChange);
    connect(f.deviceInfoButton, &QPushButton::clicked, this, &MainWindow::deviceInfo);
    connect(f.uploadButton, &QPushButton::clicked, this, &MainWindow::uploadMode);
    connect(m_link, &SerialLink::comm, this, &MainWindow::OnComm);
}

void MainWindow::startUp()
{
    const MainForm &f = m_form;
    f.stationBox->setText(QStringLiteral("1"));
    f.baudList->clear();
    f.baudList->addItems({QStringLiteral("2400"), QStringLiteral("4800"), QStringLiteral("9600"),
                          QStringLiteral("19200"), QStringLiteral("38400")});
    m_state.CommNum = 1;
    f.countBox->setText(QStringLiteral("15"));
    f.stationBox->setText(QStringLiteral("1"));
    m_state.CommRate = 9600;
    // A position past the end of the list reads as empty text and never matches.
    for (int p = 0; p <= 23; ++p) {
        if (p < f.baudList->count() && f.baudList->itemText(p) == QStringLiteral("9600")) {
            f.baudList->setCurrentIndex(p);
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
        if (p < f.portList->count() && f.portList->itemText(p) == first) {
            f.portList->setCurrentIndex(p);
            portChoice();
            break;
        }
    }
    setCounters(1, 1);
    m_state.LoopOn = true;
}

void MainWindow::refreshPortTooltips()
{
    const QStringList devices = portDevices();
    for (int p = 0; p < m_form.portList->count(); ++p) {
        const QString device = devices.value(p);
        m_form.portList->setItemData(p, device.isEmpty() ? QStringLiteral("无设备") : device,
                                     Qt::ToolTipRole);
    }
}

// An open that succeeds shows green, one that fails red, whatever was in front.
bool MainWindow::openPort(bool sayWhenBusy)
{
    if (m_link->open()) {
        bringToFront(m_form.greenLamp);
        return true;
    }
    bringToFront(m_form.redLamp);
    if (sayWhenBusy)
        showMessage(UserMessage{msg::portBusy, msg::errorTitle, true});
    return false;
}

void MainWindow::portChoice()
{
    if (m_link->isOpen())
        m_link->close();
    if (m_form.portList->currentIndex() < 0) {
        showMessage(UserMessage{msg::choosePort});
        return;
    }
    m_link->setCommPort(m_form.portList->currentIndex() + 1);
    m_state.CommNum = std::int16_t(m_link->commPort());
    m_link->setSettings(settingsText(m_state.CommRate));
    if (m_link->isOpen())
        return;
    openPort(false);
    OpenOnComm();
    m_state.LoopOn = true;
}

void MainWindow::baudChoice()
{
    m_state.CommRate =
        std::int32_t(numericValue(m_form.baudList->currentText()).value_or(m_state.CommRate));
    if (m_link->isOpen()) {
        m_link->close();
        m_link->setSettings(settingsText(m_state.CommRate));
        openPort(true);
    } else {
        m_link->setSettings(settingsText(m_state.CommRate));
    }
}

void MainWindow::openClicked()
{
    if (!m_link->isOpen())
        m_link->setSettings(settingsText(m_state.CommRate));
    else
        m_link->close();
    openPort(true);
}

void MainWindow::closeClicked()
{
    bringToFront(m_form.redLamp);
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
    const MainForm &f = m_form;
    const std::optional<RequestPlan> plan = accepted(planRegisterRead(
        {f.stationBox->text(), f.functionBox->text(), f.startBox->text(), f.countBox->text()}));
    if (!plan)
        return;
    f.receivedBox->clear();
    setCounters(m_state.RecvCount, m_state.cycleCount + 1);
    if (!m_link->isOpen()) {
        showMessage(UserMessage{msg::portClosed});
        bringToFront(f.redLamp);
        m_state.LoopOn = false;
        return;
    }
    bringToFront(f.yellowLamp);
    prepareForRequest();
    m_state.RecLength = std::int16_t(plan->threshold);
    m_link->setRThreshold(m_state.RecLength);
    m_state.CmdType = plan->kind;
    m_link->output(plan->frame);
    f.sentBox->setPlainText(sentTrace(plan->frame));
}

void MainWindow::loopStart()
{
    setCounters(1, 1);
    const auto period = planPolling(m_form.periodBox->text());
    if (const auto *refusal = std::get_if<UserMessage>(&period)) {
        showMessage(*refusal);
        return;
    }
    m_state.LoopOn = true;
    m_form.pollTimer->start(std::get<int>(period));
}

void MainWindow::loopStop()
{
    m_form.pollTimer->stop();
}

void MainWindow::timerTick()
{
    // A message box is up (a tick's or a click's): do not stack another.
    if (m_messageOpen)
        return;
    if (!numericValue(m_form.countBox->text()))
        m_form.countBox->setText(QStringLiteral("1"));
    setCounters(m_state.RecvCount, cycleCountAtTick(m_state.cycleCount));
    if (m_state.LoopOn)
        singleRead();
}

void MainWindow::parameterWrite(int buttonIndex)
{
    const QString value = m_form.valueBoxes[buttonIndex + firstWritable]->text();
    if (const auto plan =
            accepted(planParameterWrite(buttonIndex, value, m_form.stationBox->text())))
        dispatch(*plan);
}

void MainWindow::addressRead()
{
    dispatch(planAddressRead());
}

void MainWindow::addressChange()
{
    if (const std::optional<RequestPlan> plan = accepted(
            planAddressChange(m_form.currentAddressBox->text(), m_form.targetAddressBox->text())))
        dispatch(*plan);
}

void MainWindow::deviceInfo()
{
    if (const std::optional<RequestPlan> plan =
            accepted(planDeviceInfo(m_form.stationBox->text()))) {
        m_form.sentBox->clear();
        dispatch(*plan);
    }
}

void MainWindow::uploadMode()
{
    const RequestPlan plan = planUploadMode();
    armRawReads();
    bringToFront(m_form.yellowLamp);
    m_link->discardInput();
    m_link->setInputLen(0);
    m_link->setRThreshold(plan.threshold);
    m_state.CmdType = plan.kind;
    setCounters(0, 0);
    m_form.uploadLog->clear();
    m_upload.reset();
}

void MainWindow::OnComm()
{
    const MainForm &f = m_form;
    setCounters(nextRecvCount(m_state.RecvCount), m_state.cycleCount);
    if (m_link->commEvent() != CommEventCode::Receive) {
        // The link closed itself because the line failed: show it.
        if (m_link->commEvent() == CommEventCode::LineLost && !m_link->isOpen())
            bringToFront(f.redLamp);
        return;
    }
    const QByteArray bytes = m_link->input();
    // In the upload mode records keep coming: what arrived after the read is
    // the start of the next record, not a stale reply.
    if (m_state.CmdType != RequestKind::Upload)
        m_link->discardInput();
    const Delivery d =
        decodeDelivery(m_state.CmdType, bytes, startRegisterOf(f.startBox->text()), &m_upload);
    if (d.rearm > 0)
        m_link->setRThreshold(d.rearm);
    // Values first: the hex box's layout is the slower of the two.
    for (const ValueText &v : d.values)
        f.valueBoxes[v.index]->setText(v.text);
    f.receivedBox->setPlainText(d.hex);
    for (const UploadReadings &r : d.uploads) {
        // appendPlainText adds one block: the same cost at line 1 and line 1,000,000.
        f.uploadLog->appendPlainText(m_clock().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                                     QLatin1Char(' ') + r.first + QLatin1Char(' ') + r.second);
    }
    if (d.address) {
        f.currentAddressBox->setText(QString::number(*d.address));
        f.stationBox->setText(QString::number(*d.address));
    }
    if (d.deviceText)
        f.deviceInfoBox->setText(*d.deviceText);
    bringToFront(d.rejected ? f.redLamp : f.greenLamp);
}

// The plan, or nothing after its refusal was shown.
std::optional<RequestPlan> MainWindow::accepted(const Planned &planned)
{
    if (const auto *refusal = std::get_if<UserMessage>(&planned)) {
        showMessage(*refusal);
        return std::nullopt;
    }
    return std::get<RequestPlan>(planned);
}

// Common tail of the write, address and device-information requests: the port
// is prepared even when closed, so the request still reaches its closed-port
// branch.
void MainWindow::dispatch(const RequestPlan &plan)
{
    m_state.CmdType = plan.kind;
    m_form.receivedBox->clear();
    prepareForRequest();
    if (plan.kind == RequestKind::AddressChange)
        m_state.RecLength = std::int16_t(plan.threshold);
    m_link->setRThreshold(plan.threshold);
    m_form.sentBox->setPlainText(sentTrace(plan.frame));
    if (m_link->isOpen()) {
        bringToFront(m_form.greenLamp);
        m_link->output(plan.frame);
    } else {
        bringToFront(m_form.redLamp);
    }
}

void MainWindow::armRawReads()
{
    m_link->discardInput();
    m_link->setInputLen(0);
    m_link->setInputMode(1);
}

void MainWindow::prepareForRequest()
{
    armRawReads();
    m_link->setRThreshold(0); // no receive event while the request is built
}

void MainWindow::setCounters(std::int32_t receptions, std::int64_t cycles)
{
    m_state.RecvCount = receptions;
    m_state.cycleCount = cycles;
    m_form.receptionCounter->setText(QString::number(receptions));
    m_form.cycleCounter->setText(QString::number(cycles));
}

void MainWindow::showMessage(const UserMessage &message)
{
    QScopedValueRollback<bool> open(m_messageOpen, true);
    m_messages->show(this, message);
}

void MainWindow::bringToFront(QLabel *lamp)
{
    lamp->raise();
}

QString MainWindow::frontLamp() const
{
    const QObjectList &lamps = m_form.greenLamp->parentWidget()->children();
    for (auto it = lamps.crbegin(); it != lamps.crend(); ++it) {
        if ((*it)->isWidgetType())
            return (*it)->objectName();
    }
    return {};
}

} // namespace kc
