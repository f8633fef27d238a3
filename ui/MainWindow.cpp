#include "ui/MainWindow.h"

#include "line/PortClaims.h"
#include "operations/Counters.h"
#include "operations/NumberText.h"
#include "operations/RegisterMap.h"
#include "operations/Replies.h"
#include "protocol/FrameCodec.h"
#include "protocol/PortNaming.h"
#include "protocol/SerialLink.h"
#include "ui/BusScanWindow.h"
#include "ui/CommSettingsDialog.h"
#include "ui/CommissioningWindow.h"
#include "ui/MessageSink.h"
#include "ui/MonitorWindow.h"
#include "ui/SnapshotDialog.h"
#include "ui/TrafficLogWindow.h"
#include "ui/TrendWindow.h"

#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QStatusBar>
#include <QTimer>

#include <cmath>

namespace kc {

namespace {

QString settingsText(std::int32_t rate)
{
    return QString::number(rate) + QStringLiteral(",N,8,1");
}

} // namespace

MainWindow::MainWindow(SerialLink *link, MessageSink *messages, QWidget *parent)
    : QMainWindow(parent), m_link(link), m_messages(messages),
      m_clock([] { return QDateTime::currentDateTime(); }),
      m_msClock([this] { return double(m_elapsed.nsecsElapsed()) / 1e6; }),
      m_form(buildMainForm(new QWidget(this), [this] { refreshPortTooltips(); })),
      m_deadline(new QTimer(this)), m_statusText(new QLabel(this)), m_totalsText(new QLabel(this)),
      m_traffic(new TrafficLogWindow(messages, this)), m_claims(new PortClaims(this))
{
    m_elapsed.start();
    m_link->setParent(this);
    setWindowTitle(msg::appTitle);
    setCentralWidget(m_form.client);
    buildMenus();
    buildStatusBar();
    // The client area keeps its designed size; menus and status bar add theirs.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    m_deadline->setObjectName(QStringLiteral("replyDeadline"));
    m_deadline->setSingleShot(true);
    m_deadline->setTimerType(Qt::PreciseTimer);
    m_timeoutMs = storedResponseTimeout();
    connect(m_claims, &PortClaims::claimed, this, &MainWindow::portClaimed);
    connect(m_claims, &PortClaims::released, this, &MainWindow::portReleased);
    connectHandlers();
    startUp();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildMenus()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("文件"));
    file->setObjectName(QStringLiteral("fileMenu"));
    file->addAction(QStringLiteral("保存模块快照"), this,
                    [this] { saveModuleSnapshot(this, m_messages); });
    file->addAction(QStringLiteral("打开模板"), this, [this] { openTemplate(this, m_messages); });
    file->addSeparator();
    file->addAction(QStringLiteral("退出"), this, &QWidget::close);
    QMenu *tools = menuBar()->addMenu(QStringLiteral("工具"));
    tools->setObjectName(QStringLiteral("toolsMenu"));
    tools->addAction(QStringLiteral("通讯设置..."), this, &MainWindow::commSettings);
    tools->addAction(QStringLiteral("通讯记录"), this, [this] {
        m_traffic->show();
        m_traffic->raise();
    });
    tools->addAction(QStringLiteral("总线扫描"), this, [this] { showBusScan(this, m_messages); });
    tools->addAction(QStringLiteral("调试向导"), this,
                     [this] { showCommissioning(this, m_messages); });
    tools->addAction(QStringLiteral("多模块监视"), this, [this] {
        monitorWindow()->show();
        monitorWindow()->raise();
    });
    tools->addAction(QStringLiteral("趋势图"), this, [this] {
        trendWindow()->show();
        trendWindow()->raise();
    });
    QMenu *help = menuBar()->addMenu(QStringLiteral("帮助"));
    help->setObjectName(QStringLiteral("helpMenu"));
    help->addAction(QStringLiteral("关于"), this, &MainWindow::about);
}

void MainWindow::buildStatusBar()
{
    m_statusText->setObjectName(QStringLiteral("outcomeText"));
    m_totalsText->setObjectName(QStringLiteral("totalsText"));
    m_totalsText->setToolTip(QStringLiteral("双击清零"));
    m_totalsText->installEventFilter(this);
    // Texts that change with every request must not make the window lay
    // itself out again: the labels keep the room they were given.
    m_statusText->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_totalsText->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_totalsText->setMinimumWidth(m_totalsText->fontMetrics().horizontalAdvance(
        QStringLiteral("发送 000000  应答 000000  超时 00000  错误 00000  取代 00000  响应 "
                       "0000.0 / 0000.0 / 0000.0 ms")));
    m_totalsText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    statusBar()->addWidget(m_statusText, 1);
    statusBar()->addPermanentWidget(m_totalsText);
    statusBar()->setSizeGripEnabled(false);
    showTotals();
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_totalsText && event->type() == QEvent::MouseButtonDblClick) {
        m_totals = OutcomeTotals{};
        showTotals();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

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
    connect(m_deadline, &QTimer::timeout, this, &MainWindow::deadlinePassed);
}

void MainWindow::startUp()
{
    const MainForm &f = m_form;
    f.stationBox->setText(QStringLiteral("1"));
    f.baudList->clear();
    f.baudList->addItems({QStringLiteral("2400"), QStringLiteral("4800"), QStringLiteral("9600"),
                          QStringLiteral("19200"), QStringLiteral("38400")});
    m_state.CommNum = 1;
    f.countBox->setText(QString::number(registerCount));
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
    if (const QString refusal = m_claims->refusal(portName()); !refusal.isEmpty()) {
        bringToFront(m_form.redLamp);
        showStatus(refusal);
        return;
    }
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
    if (refusedByClaim())
        return;
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
    if (refusedByClaim()) {
        m_state.LoopOn = false; // ticks read again once "循环" is clicked
        return;
    }
    f.receivedBox->clear();
    setCounters(m_state.RecvCount, m_state.cycleCount + 1);
    if (!m_link->isOpen()) {
        showMessage(UserMessage{msg::portClosed});
        bringToFront(f.redLamp);
        m_state.LoopOn = false;
        return;
    }
    prepareForRequest();
    m_state.RecLength = std::int16_t(plan->threshold);
    m_link->setRThreshold(m_state.RecLength);
    m_state.CmdType = plan->kind;
    send(*plan);
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
    if (refusedByClaim())
        return;
    const RequestPlan plan = planUploadMode();
    // Ticks would replace the mode with a read and end the log.
    const bool wasPolling = m_form.pollTimer->isActive();
    m_form.pollTimer->stop();
    m_deadline->stop();
    if (const auto superseded = m_watch.supersede())
        conclude(*superseded);
    if (wasPolling)
        showStatus(QStringLiteral("主动上传模式：循环读取已停止"));
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
    m_traffic->record({m_clock(), TrafficEntry::Direction::Received, bytes, {}});
    f.receivedBox->setPlainText(receivedTrace(bytes));
    if (m_state.CmdType == RequestKind::Upload) {
        // Records keep coming: what arrived after the read is the start of
        // the next record, not a stale reply, so nothing is discarded.
        const Delivery d = decodeDelivery(RequestKind::Upload, bytes, 0, &m_upload);
        m_link->setRThreshold(d.rearm);
        for (const UploadReadings &r : d.uploads) {
            // appendPlainText adds one block: the same cost at line 1 and line 1,000,000.
            f.uploadLog->appendPlainText(m_clock().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                                         QLatin1Char(' ') + r.first + QLatin1Char(' ') + r.second);
            recordUpload(r);
        }
        bringToFront(f.greenLamp);
        return;
    }
    m_link->discardInput();
    // Bytes nobody waits for (a late reply, noise) are shown and go no further.
    if (const auto outcome = m_watch.feed(bytes, m_msClock()))
        conclude(*outcome);
    else if (m_watch.waiting() && m_watch.bytesStillExpected() > 0)
        m_link->setRThreshold(m_watch.bytesStillExpected());
}

void MainWindow::deadlinePassed()
{
    QByteArray late;
    if (m_link->isOpen()) {
        late = m_link->input();
        if (!late.isEmpty()) {
            m_traffic->record({m_clock(), TrafficEntry::Direction::Received, late, {}});
            m_form.receivedBox->setPlainText(m_form.receivedBox->toPlainText() +
                                             receivedTrace(late));
        }
    }
    if (const auto outcome = m_watch.expire(late, m_msClock()))
        conclude(*outcome);
}

// A request goes out: the one still waiting is superseded, and this one's
// deadline starts.
void MainWindow::send(const RequestPlan &plan)
{
    const QVector<Outcome> done = m_watch.start(plan, m_msClock(), m_timeoutMs, m_state.CommRate);
    m_lastStation = std::uint8_t(plan.frame[0]);
    bringToFront(m_form.yellowLamp);
    m_link->output(plan.frame);
    m_traffic->record({m_clock(), TrafficEntry::Direction::Sent, plan.frame, {}});
    for (const Outcome &o : done)
        conclude(o);
    if (m_watch.waiting())
        m_deadline->start(int(std::ceil(m_watch.remainingMs(m_msClock()))));
    else
        m_deadline->stop();
}

// What became of a request: counted, shown, and applied only when answered.
void MainWindow::conclude(const Outcome &outcome)
{
    if (!m_watch.waiting())
        m_deadline->stop();
    m_totals.add(outcome);
    const QString words = outcomeText(outcome);
    showStatus(words);
    showTotals();
    m_traffic->record({m_clock(), TrafficEntry::Direction::Note, {}, words});
    if (m_watch.kind() == RequestKind::RegisterRead)
        recordRead(outcome);
    switch (outcome.kind) {
    case OutcomeKind::Answered: {
        const Delivery d = decodeDelivery(m_watch.kind(), outcome.frame, m_watch.startRegister());
        // Values first: the hex box's layout is the slower of the two.
        for (const ValueText &v : d.values)
            m_form.valueBoxes[v.index]->setText(v.text);
        if (d.address) {
            m_form.currentAddressBox->setText(QString::number(*d.address));
            m_form.stationBox->setText(QString::number(*d.address));
        }
        if (d.deviceText)
            m_form.deviceInfoBox->setText(*d.deviceText);
        bringToFront(m_form.greenLamp);
        break;
    }
    case OutcomeKind::Broadcast:
        bringToFront(m_form.greenLamp);
        break;
    case OutcomeKind::Superseded:
        break; // the next request's lamp is already up
    default:
        bringToFront(m_form.redLamp);
        break;
    }
}

void MainWindow::showStatus(const QString &text)
{
    m_statusText->setText(text);
}

void MainWindow::showTotals()
{
    m_totalsText->setText(totalsText(m_totals));
}

void MainWindow::commSettings()
{
    CommSettingsDialog dialog(m_timeoutMs, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_timeoutMs = dialog.timeoutMs();
    storeResponseTimeout(m_timeoutMs);
}

void MainWindow::about()
{
    showMessage(UserMessage{msg::appTitle + QStringLiteral("\n版本 ") + QStringLiteral(KC_VERSION),
                            QStringLiteral("关于")});
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
    if (refusedByClaim())
        return;
    m_state.CmdType = plan.kind;
    m_form.receivedBox->clear();
    prepareForRequest();
    if (plan.kind == RequestKind::AddressChange)
        m_state.RecLength = std::int16_t(plan.threshold);
    m_link->setRThreshold(plan.threshold);
    m_form.sentBox->setPlainText(sentTrace(plan.frame));
    if (m_link->isOpen()) {
        send(plan);
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

SerialLink *MainWindow::releasePort()
{
    if (m_portLent)
        return nullptr;
    m_form.pollTimer->stop();
    m_deadline->stop();
    if (const auto superseded = m_watch.supersede())
        conclude(*superseded);
    m_state.CmdType = RequestKind::None;
    m_portWasOpen = m_link->isOpen();
    m_link->close();
    disconnect(m_link, &SerialLink::comm, this, &MainWindow::OnComm);
    m_form.client->setEnabled(false);
    m_portLent = true;
    showStatus(QStringLiteral("串口由工具窗口使用中"));
    return m_link;
}

void MainWindow::reclaimPort()
{
    if (!m_portLent)
        return;
    m_portLent = false;
    m_link->close();
    connect(m_link, &SerialLink::comm, this, &MainWindow::OnComm);
    m_form.client->setEnabled(true);
    m_link->setSettings(settingsText(m_state.CommRate));
    if (m_portWasOpen) {
        openPort(false);
        OpenOnComm();
    }
    showStatus({});
}

QString MainWindow::stationText() const
{
    return m_form.stationBox->text();
}

void MainWindow::useModule(int baud, int station)
{
    const int index = m_form.baudList->findText(QString::number(baud));
    if (index >= 0) {
        m_form.baudList->setCurrentIndex(index);
        // A lent port takes the rate when it comes back.
        if (m_portLent)
            m_state.CommRate = baud;
        else
            baudChoice();
    }
    m_form.stationBox->setText(QString::number(station));
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

namespace kc {

MonitorWindow *MainWindow::monitorWindow()
{
    if (!m_monitor) {
        m_monitor = new MonitorWindow(m_claims, &m_dataLog, &m_trendStore, m_messages, this);
        connect(m_monitor, &MonitorWindow::pickedChanged, this, [this](const QStringList &keys) {
            if (m_trend)
                m_trend->setMonitorSources(keys);
        });
        connect(m_monitor, &MonitorWindow::trendWanted, this, [this] {
            trendWindow()->show();
            trendWindow()->raise();
        });
    }
    return m_monitor;
}

TrendWindow *MainWindow::trendWindow()
{
    if (!m_trend) {
        m_trend = new TrendWindow(&m_trendStore, m_messages, this);
        m_trend->setMonitorSources(monitorWindow()->picked());
        // Without ticked modules, the main window's own reads are what there is to show.
        m_trend->setMainWindowShown(monitorWindow()->picked().isEmpty());
    }
    return m_trend;
}

QString MainWindow::portName() const
{
    return QStringLiteral("COM%1").arg(m_link->commPort());
}

bool MainWindow::refusedByClaim()
{
    const QString refusal = m_claims->refusal(portName());
    if (refusal.isEmpty())
        return false;
    showMessage(UserMessage{refusal});
    return true;
}

void MainWindow::portClaimed(const QString &identity)
{
    if (identity != portIdentity(portName()))
        return;
    // One port has one master at a time: the tool window's polling takes it over.
    m_form.pollTimer->stop();
    if (m_link->isOpen()) {
        m_link->close();
        m_yielded = true;
    }
    bringToFront(m_form.redLamp);
    showStatus(m_claims->refusal(portName()));
}

void MainWindow::portReleased(const QString &identity)
{
    if (!m_yielded || identity != portIdentity(portName()))
        return;
    m_yielded = false;
    showStatus({});
    if (openPort(false))
        OpenOnComm();
}

void MainWindow::recordRead(const Outcome &outcome)
{
    const std::optional<Reading> reading = outcome.kind == OutcomeKind::Answered
                                               ? readingOf(outcome.frame, m_watch.startRegister())
                                               : std::nullopt;
    const QDateTime now = m_clock();
    if (reading)
        m_trendStore.add(TrendStore::mainWindowKey(m_lastStation),
                         {portName(), m_lastStation, true}, now.toMSecsSinceEpoch(),
                         reading->temperature / 100.0, reading->humidity / 100.0, reading->limits);
    if (m_dataLog.enabled() &&
        !m_dataLog.write(pollRow(portName(), m_lastStation, reading, outcome, now))) {
        m_dataLog.setEnabled(false);
        showStatus(m_dataLog.error());
    }
}

void MainWindow::recordUpload(const UploadReadings &record)
{
    const QDateTime now = m_clock();
    m_trendStore.add(TrendStore::mainWindowKey(0), {portName(), 0, true}, now.toMSecsSinceEpoch(),
                     record.first.toDouble(), record.second.toDouble());
    if (m_dataLog.enabled() && !m_dataLog.write(uploadRow(portName(), record, now))) {
        m_dataLog.setEnabled(false);
        showStatus(m_dataLog.error());
    }
}

} // namespace kc
