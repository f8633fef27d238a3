#include "ui/MainWindow.h"

#include "line/LineEngine.h"
#include "operations/Counters.h"
#include "operations/NumberText.h"
#include "operations/RegisterMap.h"
#include "operations/Replies.h"
#include "protocol/FrameCodec.h"
#include "protocol/Link.h"
#include "protocol/PortNaming.h"
#include "ui/BusScanWindow.h"
#include "ui/CommSettingsDialog.h"
#include "ui/CommissioningWindow.h"
#include "ui/DiagnosisWindow.h"
#include "ui/HelpWindow.h"
#include "ui/ListenWindow.h"
#include "ui/MessageSink.h"
#include "ui/MonitorWindow.h"
#include "ui/SnapshotDialog.h"
#include "ui/ToolControls.h"
#include "ui/TrafficLogWindow.h"
#include "ui/TrendWindow.h"

#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QStatusBar>
#include <QTimer>

namespace kc {

namespace {

// What the received box keeps of a record in progress: a record is 13 bytes,
// and noise between records must not grow the box without end.
constexpr int uploadShownCap = 64;

} // namespace

MainWindow::MainWindow(PortClaims *claims, MessageSink *messages, QWidget *parent)
    : QMainWindow(parent), m_claims(claims), m_messages(messages),
      m_clock([] { return QDateTime::currentDateTime(); }),
      m_form(buildMainForm(new QWidget(this), [this] { refreshPortTooltips(); })),
      m_statusText(new QLabel(this)), m_totalsText(new QLabel(this)),
      m_traffic(new TrafficLogWindow(messages, this)), m_recorder(&m_trendStore, &m_dataLog)
{
    setWindowTitle(msg::appTitle);
    setCentralWidget(m_form.client);
    buildMenus();
    buildStatusBar();
    // The client area keeps its designed size; menus and status bar add theirs.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    m_timeoutMs = storedResponseTimeout();
    m_echoMode = storedEchoMode();
    connect(m_claims, &PortClaims::engineMade, this,
            [this](LineEngine *engine) { engine->setEchoMode(m_echoMode); });
    connect(m_claims, &PortClaims::engineMade, this, &MainWindow::watchTraffic);
    connect(m_claims, &PortClaims::yieldWanted, this, &MainWindow::yieldPort);
    connect(m_claims, &PortClaims::claimed, this, &MainWindow::portClaimed);
    connect(m_claims, &PortClaims::released, this, &MainWindow::portReleased);
    connect(&m_recorder, &Recorder::logFailed, this, [this] { showStatus(m_dataLog.error()); });
    connectHandlers();
    startUp();
}

MainWindow::~MainWindow()
{
    m_claims->disconnect(this);
    // The tool windows stop their work and give their ports back while the
    // recorder, the logs and this window's port are all still here.
    delete m_monitor;
    delete m_trend;
    qDeleteAll(findChildren<QDialog *>(Qt::FindDirectChildrenOnly));
    dropPort();
}

void MainWindow::setClock(std::function<QDateTime()> clock)
{
    m_clock = clock;
    m_recorder.setClock(std::move(clock));
}

void MainWindow::setResponseTimeout(int ms)
{
    m_timeoutMs = ms;
    if (m_engine)
        m_engine->setTimeout(ms);
}

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
    connect(m_traffic, &TrafficLogWindow::listenWanted, this,
            [this] { showListening(this, m_messages); });
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
    tools->addAction(QStringLiteral("线路诊断"), this, [this] { showDiagnosis(this, m_messages); });
    QMenu *help = menuBar()->addMenu(QStringLiteral("帮助"));
    help->setObjectName(QStringLiteral("helpMenu"));
    help->addAction(QStringLiteral("使用说明"), this, [this] { showHelp(this); });
    help->addAction(QStringLiteral("关于"), this, &MainWindow::about);
}

void MainWindow::buildStatusBar()
{
    m_statusText->setObjectName(QStringLiteral("outcomeText"));
    m_totalsText->setObjectName(QStringLiteral("totalsText"));
    m_totalsText->setToolTip(QStringLiteral("双击清零"));
    m_totalsText->installEventFilter(this);
    // Texts that change with every request must not make the window lay
    // itself out again: the labels keep the room they were given. The totals'
    // room is fixed, for an ignored size would let the status bar push them
    // past its right edge.
    m_statusText->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_totalsText->setFixedWidth(m_totalsText->fontMetrics().horizontalAdvance(
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
}

void MainWindow::startUp()
{
    const MainForm &f = m_form;
    f.stationBox->setText(QStringLiteral("1"));
    f.baudList->clear();
    for (const int baud : moduleBauds())
        f.baudList->addItem(QString::number(baud));
    f.countBox->setText(QString::number(registerCount));
    m_operatorBaud = 9600;
    // A position past the end of the list reads as empty text and never matches.
    for (int p = 0; p <= 23; ++p) {
        if (p < f.baudList->count() && f.baudList->itemText(p) == QStringLiteral("9600")) {
            f.baudList->setCurrentIndex(p);
            baudChoice();
            break;
        }
    }
    refreshPortTooltips();
    for (int p = 0; p <= 23; ++p) {
        if (p < f.portList->count() && f.portList->itemText(p) == QStringLiteral("COM1")) {
            f.portList->setCurrentIndex(p);
            portChoice();
            break;
        }
    }
    setCounters(1, 1);
    m_pollingAllowed = true;
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

// The window's hold on m_port: false when a tool has it (the status bar says which).
bool MainWindow::takePort()
{
    m_engine = m_claims->claim(m_port, Holder::MainWindow, this);
    if (!m_engine) {
        // Taken up again, and opened, once the tool lets go.
        m_takenBy = m_claims->holderOf(m_port);
        m_yieldedIdentity = portIdentity(m_port);
        m_openWhenBack = true;
        showStatus(holderMessage(m_takenBy.value_or(Holder::MainWindow)));
        return false;
    }
    m_takenBy.reset();
    m_engine->setBaud(m_operatorBaud);
    m_engine->setTimeout(m_timeoutMs);
    connect(m_engine, &LineEngine::received, this, &MainWindow::received);
    connect(m_engine, &LineEngine::finished, this, &MainWindow::concluded);
    connect(m_engine, &LineEngine::lineLost, this, &MainWindow::lineLost);
    return true;
}

void MainWindow::dropPort()
{
    if (!m_engine)
        return;
    LineEngine *engine = std::exchange(m_engine, nullptr);
    m_collecting = false;
    m_claims->release(engine);
}

// An open that succeeds shows green, one that fails red, whatever was in front.
bool MainWindow::openPort(bool sayWhenBusy)
{
    if (m_engine && m_engine->open()) {
        bringToFront(m_form.greenLamp);
        showStatus({});
        return true;
    }
    bringToFront(m_form.redLamp);
    // The message box keeps the module family's words; the status bar says why.
    if (m_engine) {
        const Link *link = m_engine->link();
        showStatus(openFailureText(m_port, link->device(), link->lastFailure()));
    }
    if (sayWhenBusy)
        showMessage(UserMessage{msg::portBusy, msg::errorTitle, true});
    return false;
}

void MainWindow::portChoice()
{
    if (m_engine && m_engine->isOpen())
        m_engine->close();
    if (m_form.portList->currentIndex() < 0) {
        showMessage(UserMessage{msg::choosePort});
        return;
    }
    const QString port = QStringLiteral("COM%1").arg(m_form.portList->currentIndex() + 1);
    if (port != m_port || !m_engine) {
        dropPort();
        m_port = port;
        m_yieldedIdentity.clear();
        if (!takePort()) {
            bringToFront(m_form.redLamp);
            return;
        }
    }
    openPort(false);
    m_pollingAllowed = true;
}

void MainWindow::baudChoice()
{
    m_operatorBaud = int(numericValue(m_form.baudList->currentText()).value_or(m_operatorBaud));
    if (!m_engine)
        return; // a port a tool holds takes the rate when it comes back
    if (m_engine->isOpen()) {
        m_engine->close();
        m_engine->setBaud(m_operatorBaud);
        openPort(true);
    } else {
        m_engine->setBaud(m_operatorBaud);
    }
}

void MainWindow::openClicked()
{
    if (refusedByClaim())
        return;
    if (m_engine->isOpen())
        m_engine->close();
    m_engine->setBaud(m_operatorBaud);
    openPort(true);
}

void MainWindow::closeClicked()
{
    bringToFront(m_form.redLamp);
    if (m_engine && m_engine->isOpen())
        m_engine->close();
}

void MainWindow::singleRead()
{
    const MainForm &f = m_form;
    const std::optional<Request> request = accepted(planRegisterRead(
        {f.stationBox->text(), f.functionBox->text(), f.startBox->text(), f.countBox->text()}));
    if (!request)
        return;
    if (refusedByClaim()) {
        m_pollingAllowed = false; // ticks read again once "循环" is clicked
        return;
    }
    f.receivedBox->clear();
    setCounters(m_receptions, m_cycles + 1);
    if (!m_engine || !m_engine->isOpen()) {
        showMessage(UserMessage{msg::portClosed});
        bringToFront(f.redLamp);
        m_pollingAllowed = false;
        return;
    }
    send(*request);
}

void MainWindow::loopStart()
{
    setCounters(1, 1);
    const auto period = planPolling(m_form.periodBox->text());
    if (const auto *refusal = std::get_if<UserMessage>(&period)) {
        showMessage(*refusal);
        return;
    }
    m_pollingAllowed = true;
    m_form.pollTimer->start(std::get<int>(period));
    showMode(QStringLiteral("循环读取中，周期 %1 ms").arg(std::get<int>(period)));
}

void MainWindow::loopStop()
{
    m_form.pollTimer->stop();
    showMode({});
}

void MainWindow::timerTick()
{
    // A message box is up (a tick's or a click's): do not stack another.
    if (m_messageOpen)
        return;
    if (!numericValue(m_form.countBox->text()))
        m_form.countBox->setText(QStringLiteral("1"));
    setCounters(m_receptions, cycleCountAtTick(m_cycles));
    if (m_pollingAllowed)
        singleRead();
}

void MainWindow::parameterWrite(int buttonIndex)
{
    const QString value = m_form.valueBoxes[buttonIndex + firstWritable]->text();
    if (const auto request =
            accepted(planParameterWrite(buttonIndex, value, m_form.stationBox->text())))
        dispatch(*request);
}

void MainWindow::addressRead()
{
    dispatch(Request::addressRead());
}

void MainWindow::addressChange()
{
    if (const auto request = accepted(
            planAddressChange(m_form.currentAddressBox->text(), m_form.targetAddressBox->text())))
        dispatch(*request);
}

void MainWindow::deviceInfo()
{
    if (const auto request = accepted(planDeviceInfo(m_form.stationBox->text()))) {
        m_form.sentBox->clear();
        dispatch(*request);
    }
}

void MainWindow::uploadMode()
{
    if (refusedByClaim())
        return;
    // Ticks would replace the mode with a read and end the log.
    const bool wasPolling = m_form.pollTimer->isActive();
    m_form.pollTimer->stop();
    m_collecting = false;
    if (m_engine)
        m_engine->stopWaiting();
    showMode(QStringLiteral("主动上传模式：单次、循环或任一请求即退出"));
    showStatus(wasPolling ? QStringLiteral("循环读取已停止") : QString());
    bringToFront(m_form.yellowLamp);
    setCounters(0, 0);
    m_form.uploadLog->clear();
    m_upload.reset();
    m_uploadShown.clear();
    m_uploadMode = true;
}

// A request goes out: whatever still waited is superseded.
void MainWindow::send(const Request &request)
{
    if (std::exchange(m_uploadMode, false))
        showMode({});
    bringToFront(m_form.yellowLamp);
    m_form.sentBox->setPlainText(sentTrace(request.frame()));
    m_engine->sendNow(request);
    m_collecting = m_engine->busy();
    if (m_collecting)
        showStatus(QStringLiteral("等待应答…"));
}

// Common tail of the write, address and device-information requests: a closed
// port shows red and sends nothing.
void MainWindow::dispatch(const Request &request)
{
    if (refusedByClaim())
        return;
    m_form.receivedBox->clear();
    if (m_engine->isOpen()) {
        send(request);
    } else {
        m_form.sentBox->setPlainText(sentTrace(request.frame()));
        bringToFront(m_form.redLamp);
    }
}

void MainWindow::received(const QByteArray &bytes)
{
    if (m_uploadMode)
        return uploadBytes(bytes);
    if (m_collecting) {
        // The reply so far: its outcome counts it once it is whole.
        m_form.receivedBox->setPlainText(m_form.receivedBox->toPlainText() + receivedTrace(bytes));
        return;
    }
    // Bytes nobody waits for (a late reply, noise) are shown and go no further.
    countReception();
    m_form.receivedBox->setPlainText(receivedTrace(bytes));
}

void MainWindow::uploadBytes(const QByteArray &bytes)
{
    m_uploadShown = (m_uploadShown + bytes).right(uploadShownCap);
    m_form.receivedBox->setPlainText(receivedTrace(m_uploadShown));
    for (const QByteArray &record : m_upload.feed(bytes).records) {
        countReception();
        m_uploadShown.clear();
        const auto r = decodeUploadRecord(record);
        if (!r)
            continue;
        // appendPlainText adds one block: the same cost at line 1 and line 1,000,000.
        m_form.uploadLog->appendPlainText(
            m_clock().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QLatin1Char(' ') +
            r->first + QLatin1Char(' ') + r->second);
        m_recorder.recordUpload(m_port, *r);
    }
    bringToFront(m_form.greenLamp);
}

// What became of a request: counted, shown, and applied only when answered.
void MainWindow::concluded(const Outcome &outcome)
{
    if (outcome.kind != OutcomeKind::Superseded)
        m_collecting = false;
    if (outcome.heardFrame())
        countReception();
    m_totals.add(outcome);
    showStatus(outcomeText(outcome));
    showTotals();
    if (outcome.request.kind == RequestKind::RegisterRead)
        m_recorder.recordRead(m_port, outcome.request.station, outcome, true);
    switch (outcome.kind) {
    case OutcomeKind::Answered:
        for (const RegisterValue &v : registerValues(outcome))
            m_form.valueBoxes[v.row]->setText(v.text());
        if (const auto address = confirmedAddress(outcome)) {
            m_form.currentAddressBox->setText(QString::number(*address));
            m_form.stationBox->setText(QString::number(*address));
        }
        if (const auto text = deviceTextOf(outcome))
            m_form.deviceInfoBox->setText(*text);
        bringToFront(m_form.greenLamp);
        break;
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

void MainWindow::lineLost()
{
    countReception();
    bringToFront(m_form.redLamp);
    // A network line's connection is made behind the open: why it failed comes here.
    const Link *link = m_engine ? m_engine->link() : nullptr;
    if (link && link->lastFailure() != OpenFailure::None)
        showStatus(openFailureText(m_port, link->device(), link->lastFailure()));
}

void MainWindow::countReception()
{
    setCounters(nextReceptionCount(m_receptions), m_cycles);
}

void MainWindow::showStatus(const QString &text)
{
    m_status = text;
    m_statusText->setText(
        m_mode.isEmpty() || text.isEmpty() ? m_mode + text : m_mode + QStringLiteral("｜") + text);
}

// What the window is doing, before the last outcome: polling and at what
// period, or the upload mode and how to leave it.
void MainWindow::showMode(const QString &mode)
{
    m_mode = mode;
    showStatus(m_status);
}

void MainWindow::showTotals()
{
    m_totalsText->setText(totalsText(m_totals));
}

void MainWindow::commSettings()
{
    CommSettingsDialog dialog(m_timeoutMs, m_echoMode, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    setResponseTimeout(dialog.timeoutMs());
    storeResponseTimeout(m_timeoutMs);
    m_echoMode = dialog.echoMode();
    storeEchoMode(m_echoMode);
    if (m_engine)
        m_engine->setEchoMode(m_echoMode);
}

void MainWindow::about()
{
    const QString readme = readmePath();
    showMessage(UserMessage{
        msg::appTitle + QStringLiteral("\n版本 ") + QStringLiteral(KC_VERSION) +
            QStringLiteral("\n\nKA4420P、KB4420P、KC4420P 温湿度模块的配置与测试工具：在 RS-485 "
                           "线路上作为 Modbus RTU 主站读写模块、查找和修改地址、记录主动上传。"
                           "\n同时安装的还有 kc4420-cli（命令行）、kc4420-gateway（MQTT 服务）和 "
                           "kc4420-sim（模拟模块）。\n\n使用说明：帮助 → 使用说明") +
            (readme.isEmpty() ? QString()
                              : QStringLiteral("\n文档：") + QFileInfo(readme).absolutePath()),
        QStringLiteral("关于")});
}

// The request, or nothing after its refusal was shown.
std::optional<Request> MainWindow::accepted(const Planned &planned)
{
    if (const auto *refusal = std::get_if<UserMessage>(&planned)) {
        showMessage(*refusal);
        return std::nullopt;
    }
    return std::get<Request>(planned);
}

void MainWindow::setCounters(std::int32_t receptions, std::int64_t cycles)
{
    m_receptions = receptions;
    m_cycles = cycles;
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

QString MainWindow::stationText() const
{
    return m_form.stationBox->text();
}

void MainWindow::useModule(int baud, int station)
{
    const int index = m_form.baudList->findText(QString::number(baud));
    if (index >= 0) {
        m_form.baudList->setCurrentIndex(index);
        baudChoice();
    }
    m_form.stationBox->setText(QString::number(station));
    showStatus(QStringLiteral("已使用扫描找到的模块：站 %1，%2 波特").arg(station).arg(baud));
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

MonitorWindow *MainWindow::monitorWindow()
{
    if (!m_monitor) {
        m_monitor = new MonitorWindow(m_claims, &m_recorder, m_messages, this);
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

bool MainWindow::refusedByClaim()
{
    if (m_engine)
        return false;
    showMessage(UserMessage{holderMessage(m_takenBy.value_or(Holder::MainWindow))});
    return true;
}

// One port has one master at a time: a tool asking for this window's port gets it.
void MainWindow::yieldPort(const QString &identity)
{
    if (!m_engine || identity != portIdentity(m_port))
        return;
    m_form.pollTimer->stop();
    m_uploadMode = false;
    showMode({});
    m_openWhenBack = m_engine->isOpen();
    m_engine->stopWaiting();
    dropPort();
    m_yieldedIdentity = identity;
    bringToFront(m_form.redLamp);
}

void MainWindow::portClaimed(const QString &identity, Holder holder)
{
    if (m_engine || identity != m_yieldedIdentity)
        return;
    m_takenBy = holder;
    showStatus(holderMessage(holder));
}

void MainWindow::portReleased(const QString &identity, Holder holder)
{
    if (holder == Holder::MainWindow || m_engine || identity != m_yieldedIdentity)
        return;
    m_yieldedIdentity.clear();
    if (!takePort())
        return;
    showStatus({});
    if (m_openWhenBack)
        openPort(false);
}

void MainWindow::watchTraffic(LineEngine *engine)
{
    const QString port = engine->port();
    connect(engine, &LineEngine::sent, m_traffic, [this, port](const QByteArray &frame) {
        m_traffic->record({m_clock(), TrafficEntry::Direction::Sent, frame, {}, port});
    });
    connect(engine, &LineEngine::received, m_traffic, [this, port](const QByteArray &bytes) {
        m_traffic->record({m_clock(), TrafficEntry::Direction::Received, bytes, {}, port});
    });
    connect(engine, &LineEngine::echoed, m_traffic, [this, port](const QByteArray &frame) {
        m_traffic->record(
            {m_clock(), TrafficEntry::Direction::Note, frame, msg::adapterEcho, port});
    });
    connect(engine, &LineEngine::finished, m_traffic, [this, port](const Outcome &o) {
        m_traffic->record({m_clock(), TrafficEntry::Direction::Note, {}, outcomeText(o), port});
    });
}

} // namespace kc
