#include "ui/MonitorWindow.h"

#include "line/Recorder.h"
#include "line/TrendHistory.h"
#include "operations/DataLog.h"
#include "operations/ModuleReading.h"
#include "operations/RegisterMap.h"
#include "ui/CommSettingsDialog.h"
#include "ui/MessageSink.h"
#include "ui/ToolControls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kc {

namespace {

const QString listKey = QStringLiteral("monitor/list");
const QString cycleKey = QStringLiteral("monitor/cycleMs");
const QString folderKey = QStringLiteral("monitor/logFolder");
const QString sizeKey = QStringLiteral("monitor/logMaxMb");
const QString pickedKey = QStringLiteral("monitor/picked");

const QStringList columns{
    QStringLiteral("趋势"),      QStringLiteral("串口"),     QStringLiteral("站号"),
    QStringLiteral("波特率"),    QStringLiteral("设备信息"), QStringLiteral("温度(℃)"),
    QStringLiteral("湿度(%RH)"), QStringLiteral("报警状态"), QStringLiteral("结果"),
    QStringLiteral("响应(ms)"),  QStringLiteral("应答"),     QStringLiteral("无应答"),
    QStringLiteral("错误"),      QStringLiteral("最后应答"),
};

QString defaultFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return (documents.isEmpty() ? QDir::homePath() : documents) + QStringLiteral("/kc4420-data");
}

QString lineText(LineState state, std::optional<Holder> heldBy)
{
    switch (state) {
    case LineState::Polling:
        break;
    case LineState::NotOpened:
        return msg::portNotOpened;
    case LineState::Lost:
        return msg::lineLost;
    case LineState::Held:
        return holderMessage(heldBy.value_or(Holder::MainWindow));
    }
    return {};
}

} // namespace

QStringList rowTexts(const WatchedModule &m, std::optional<Holder> heldBy)
{
    const bool answered = m.last && m.last->answered();
    QString result = lineText(m.line, heldBy);
    if (result.isEmpty() && m.dead)
        result = QStringLiteral("停止应答");
    else if (result.isEmpty() && m.last)
        result = outcomeText(*m.last);
    const auto value = [&](int row, int v) { return m.reading ? valueText(row, v) : QString(); };
    return {
        m.port,
        QString::number(m.station),
        QString::number(m.baud),
        m.deviceText,
        value(temperatureRow, m.reading ? m.reading->temperature : 0),
        value(humidityRow, m.reading ? m.reading->humidity : 0),
        m.reading ? alarmText(m.reading->alarmCode) : QString(),
        result,
        answered ? QString::number(m.last->responseMs, 'f', 1) : QString(),
        QString::number(m.answered),
        QString::number(m.noReply),
        QString::number(m.errors),
        m.lastSeen.isValid() ? m.lastSeen.toString(QStringLiteral("MM-dd HH:mm:ss")) : QString(),
    };
}

MonitorWindow::MonitorWindow(PortClaims *claims, Recorder *recorder, MessageSink *messages,
                             QWidget *parent)
    : QWidget(parent, Qt::Window), m_monitor(claims), m_recorder(recorder), m_messages(messages),
      m_port(new QComboBox(this)), m_stations(new QLineEdit(this)), m_baud(new QComboBox(this)),
      m_add(namedButton(this, "monitorAdd", QStringLiteral("添加"))),
      m_remove(namedButton(this, "monitorRemove", QStringLiteral("删除"))),
      m_open(namedButton(this, "monitorOpenList", QStringLiteral("打开列表..."))),
      m_cycle(new QSpinBox(this)),
      m_start(namedButton(this, "monitorStart", QStringLiteral("开始"))),
      m_stop(namedButton(this, "monitorStop", QStringLiteral("停止"))),
      m_logSwitch(new QCheckBox(QStringLiteral("数据记录"), this)), m_folder(new QLabel(this)),
      m_fileMb(new QSpinBox(this)), m_table(new QTableWidget(this)), m_status(new QLabel(this))
{
    setObjectName(QStringLiteral("monitorWindow"));
    setWindowTitle(QStringLiteral("多模块监视"));
    resize(1180, 560);
    m_monitor.setRecorder(recorder);

    m_port->setObjectName(QStringLiteral("monitorPort"));
    m_port->setEditable(true);
    for (int n = 1; n <= 25; ++n)
        m_port->addItem(QStringLiteral("COM%1").arg(n));
    m_port->setToolTip(QStringLiteral("COMn，或设备路径，如 /dev/serial/by-id/..."));
    m_port->setMinimumContentsLength(14);
    m_stations->setObjectName(QStringLiteral("monitorStations"));
    m_stations->setPlaceholderText(QStringLiteral("如 1 或 1-40 或 1,3,5"));
    m_baud->setObjectName(QStringLiteral("monitorBaud"));
    for (const int baud : moduleBauds())
        m_baud->addItem(QString::number(baud));
    m_baud->setCurrentText(QStringLiteral("9600"));
    auto *save = namedButton(this, "monitorSaveList", QStringLiteral("保存列表..."));
    auto *list = new QHBoxLayout;
    list->addWidget(new QLabel(QStringLiteral("串口"), this));
    list->addWidget(m_port);
    list->addWidget(new QLabel(QStringLiteral("站号"), this));
    list->addWidget(m_stations);
    list->addWidget(new QLabel(QStringLiteral("波特率"), this));
    list->addWidget(m_baud);
    list->addWidget(m_add);
    list->addWidget(m_remove);
    list->addStretch();
    list->addWidget(m_open);
    list->addWidget(save);

    m_cycle->setObjectName(QStringLiteral("monitorCycle"));
    m_cycle->setRange(0, 3600000);
    m_cycle->setSingleStep(100);
    m_cycle->setSpecialValueText(QStringLiteral("连续"));
    m_cycle->setToolTip(QStringLiteral("每轮的周期，毫秒；连续：一个接一个，不停顿"));
    m_logSwitch->setObjectName(QStringLiteral("monitorLog"));
    m_folder->setObjectName(QStringLiteral("monitorFolder"));
    m_fileMb->setObjectName(QStringLiteral("monitorFileSize"));
    m_fileMb->setRange(0, 4096);
    m_fileMb->setSpecialValueText(QStringLiteral("每天一个文件"));
    m_fileMb->setSuffix(QStringLiteral(" MB"));
    auto *folderButton = namedButton(this, "monitorChooseFolder", QStringLiteral("文件夹..."));
    auto *trendButton = namedButton(this, "monitorTrend", QStringLiteral("趋势图"));
    auto *run = new QHBoxLayout;
    run->addWidget(new QLabel(QStringLiteral("周期(ms)"), this));
    run->addWidget(m_cycle);
    run->addWidget(m_start);
    run->addWidget(m_stop);
    run->addWidget(trendButton);
    run->addStretch();
    run->addWidget(m_logSwitch);
    run->addWidget(folderButton);
    run->addWidget(m_folder, 1);
    run->addWidget(new QLabel(QStringLiteral("文件上限"), this));
    run->addWidget(m_fileMb);

    buildTable();
    m_status->setObjectName(QStringLiteral("monitorStatus"));
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(list);
    layout->addLayout(run);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_status);

    const QSettings settings;
    const QStringList keys = settings.value(pickedKey).toStringList();
    m_monitor.loadList(settings.value(listKey).toByteArray());
    m_cycle->setValue(settings.value(cycleKey, 1000).toInt());
    m_folder->setText(settings.value(folderKey, defaultFolder()).toString());
    m_fileMb->setValue(settings.value(sizeKey, 0).toInt());
    fillTable();
    const QSignalBlocker quiet(m_table);
    for (int r = 0; r < m_table->rowCount(); ++r) {
        const WatchedModule &m = m_monitor.module(r);
        m_table->item(r, 0)->setCheckState(
            keys.contains(TrendStore::sourceKey(m.port, m.station)) ? Qt::Checked : Qt::Unchecked);
    }
    m_logSwitch->setChecked(m_recorder->logging());
    showRunning(false);

    connect(m_add, &QPushButton::clicked, this, &MonitorWindow::addClicked);
    connect(m_stations, &QLineEdit::returnPressed, this, &MonitorWindow::addClicked);
    connect(m_remove, &QPushButton::clicked, this, &MonitorWindow::removeClicked);
    connect(m_open, &QPushButton::clicked, this, &MonitorWindow::openList);
    connect(save, &QPushButton::clicked, this, &MonitorWindow::saveList);
    connect(m_start, &QPushButton::clicked, this, &MonitorWindow::startClicked);
    connect(m_stop, &QPushButton::clicked, this, &MonitorWindow::stopClicked);
    connect(trendButton, &QPushButton::clicked, this, &MonitorWindow::trendWanted);
    connect(m_logSwitch, &QCheckBox::toggled, this, &MonitorWindow::logSwitched);
    connect(folderButton, &QPushButton::clicked, this, &MonitorWindow::chooseFolder);
    connect(m_fileMb, &QSpinBox::valueChanged, this, [this](int mb) {
        m_recorder->log()->setMaxBytes(qint64(mb) * 1024 * 1024);
        remember();
    });
    connect(m_cycle, &QSpinBox::valueChanged, this, [this] { remember(); });
    connect(&m_monitor, &Monitor::rowChanged, this, &MonitorWindow::showRow);
    connect(&m_monitor, &Monitor::listChanged, this, &MonitorWindow::fillTable);
    connect(&m_monitor, &Monitor::runningChanged, this, &MonitorWindow::showRunning);
    // The box shows whether rows are written, whichever window's row failed.
    connect(m_recorder, &Recorder::logStateChanged, this, [this](bool on) {
        const QSignalBlocker quiet(m_logSwitch);
        m_logSwitch->setChecked(on);
    });
    connect(m_recorder, &Recorder::logFailed, this, [this] {
        say(UserMessage{m_recorder->log()->error(), msg::errorTitle, true});
    });
    connect(m_table, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *item) {
        if (item->column() != 0)
            return;
        remember();
        emit pickedChanged(picked());
    });
}

MonitorWindow::~MonitorWindow()
{
    m_monitor.stop();
}

void MonitorWindow::buildTable()
{
    m_table->setObjectName(QStringLiteral("monitorTable"));
    m_table->setColumnCount(int(columns.size()));
    m_table->setHorizontalHeaderLabels(columns);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->setVisible(false);
    m_table->verticalHeader()->setDefaultSectionSize(22);
    m_table->horizontalHeader()->setStretchLastSection(true);
    const int widths[] = {40, 180, 46, 56, 110, 70, 76, 76, 160, 66, 56, 56, 46};
    for (int c = 0; c < int(std::size(widths)); ++c)
        m_table->setColumnWidth(c, widths[c]);
}

QStringList MonitorWindow::picked() const
{
    QStringList keys;
    for (int r = 0; r < m_table->rowCount(); ++r) {
        if (m_table->item(r, 0)->checkState() == Qt::Checked) {
            const WatchedModule &m = m_monitor.module(r);
            keys << TrendStore::sourceKey(m.port, m.station);
        }
    }
    return keys;
}

void MonitorWindow::fillTable()
{
    const QStringList keep = picked();
    {
        const QSignalBlocker quiet(m_table);
        m_table->setRowCount(m_monitor.rowCount());
        for (int r = 0; r < m_monitor.rowCount(); ++r) {
            for (int c = 0; c < m_table->columnCount(); ++c) {
                if (!m_table->item(r, c))
                    m_table->setItem(r, c, new QTableWidgetItem);
            }
            const WatchedModule &m = m_monitor.module(r);
            m_table->item(r, 0)->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable |
                                          Qt::ItemIsUserCheckable);
            m_table->item(r, 0)->setCheckState(
                keep.contains(TrendStore::sourceKey(m.port, m.station)) ? Qt::Checked : Qt::Unchecked);
        }
    }
    for (int r = 0; r < m_monitor.rowCount(); ++r)
        showRow(r);
    remember();
    if (picked() != keep)
        emit pickedChanged(picked());
}

void MonitorWindow::showRow(int row)
{
    if (row < 0 || row >= m_table->rowCount())
        return;
    const QSignalBlocker quiet(m_table);
    const WatchedModule &m = m_monitor.module(row);
    const QStringList texts = rowTexts(m, m_monitor.heldBy(m.port));
    // Only what changed: each change repaints its cell, forty rows many times a second.
    for (int i = 0; i < texts.size(); ++i) {
        QTableWidgetItem *item = m_table->item(row, i + 1);
        if (item->text() != texts[i])
            item->setText(texts[i]);
    }
    QBrush tone;
    switch (rowTone(m)) {
    case RowTone::Dead:
        tone = QColor(255, 180, 180);
        break;
    case RowTone::Alarm:
        tone = QColor(255, 204, 102);
        break;
    case RowTone::Normal:
        break;
    }
    if (m_table->item(row, 0)->background() == tone)
        return;
    for (int c = 0; c < m_table->columnCount(); ++c)
        m_table->item(row, c)->setBackground(tone);
}

void MonitorWindow::addClicked()
{
    if (const auto refusal =
            m_monitor.add(m_port->currentText(), m_stations->text(), m_baud->currentText().toInt()))
        say(*refusal);
}

void MonitorWindow::removeClicked()
{
    QList<int> rows;
    for (const QModelIndex &index : m_table->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    for (int r : rows)
        m_monitor.remove(r);
}

void MonitorWindow::openList()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("打开模块列表"), {},
                                                      QStringLiteral("模块列表 (*.json)"));
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        say(UserMessage{QStringLiteral("无法打开文件：") + path, msg::errorTitle, true});
        return;
    }
    if (const auto refusal = m_monitor.loadList(file.readAll()))
        say(*refusal);
}

void MonitorWindow::saveList()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("保存模块列表"),
                                                      QStringLiteral("模块列表.json"),
                                                      QStringLiteral("模块列表 (*.json)"));
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(m_monitor.listJson()) < 0)
        say(UserMessage{QStringLiteral("无法保存文件：") + path, msg::errorTitle, true});
}

void MonitorWindow::startClicked()
{
    m_monitor.setTimeout(storedResponseTimeout());
    m_monitor.setCyclePeriod(m_cycle->value());
    m_monitor.start();
}

void MonitorWindow::stopClicked()
{
    m_monitor.stop();
}

void MonitorWindow::logSwitched(bool on)
{
    // Back to back, the log grows by the polls the line allows: say how fast first.
    if (on && m_cycle->value() == 0) {
        const double rows = m_monitor.pollsPerSecond();
        const double gigabytes = dataLogBytesPerDay(rows) / 1e9;
        const UserMessage question{
            QStringLiteral("连续读取时数据记录文件增长很快：每秒约 %1 行，每天约 %2 GB。\n"
                           "要开启数据记录吗？（设置周期可减少数据量）")
                .arg(rows, 0, 'f', 0)
                .arg(gigabytes, 0, 'f', gigabytes < 10 ? 1 : 0)};
        if (!m_messages->ask(this, question)) {
            const QSignalBlocker quiet(m_logSwitch);
            m_logSwitch->setChecked(false);
            return;
        }
    }
    m_recorder->log()->setFolder(m_folder->text());
    m_recorder->log()->setMaxBytes(qint64(m_fileMb->value()) * 1024 * 1024);
    m_recorder->setLogging(on);
    m_status->setText(on ? QStringLiteral("数据记录到：") + m_folder->text() : QString());
}

void MonitorWindow::chooseFolder()
{
    const QString folder =
        QFileDialog::getExistingDirectory(this, QStringLiteral("数据记录文件夹"), m_folder->text());
    if (folder.isEmpty())
        return;
    m_folder->setText(folder);
    m_recorder->log()->setFolder(folder);
    remember();
}

void MonitorWindow::showRunning(bool running)
{
    for (QWidget *w : std::initializer_list<QWidget *>{m_add, m_remove, m_open, m_cycle, m_port,
                                                       m_stations, m_baud})
        w->setEnabled(!running);
    m_start->setEnabled(!running);
    m_stop->setEnabled(running);
    if (running)
        m_status->setText(QStringLiteral("监视中：%1 个模块").arg(m_monitor.rowCount()));
    else if (m_status->text().startsWith(QStringLiteral("监视中")))
        m_status->setText(QStringLiteral("已停止监视：%1 个模块").arg(m_monitor.rowCount()));
}

void MonitorWindow::remember() const
{
    QSettings settings;
    settings.setValue(listKey, m_monitor.listJson());
    settings.setValue(cycleKey, m_cycle->value());
    settings.setValue(folderKey, m_folder->text());
    settings.setValue(sizeKey, m_fileMb->value());
    settings.setValue(pickedKey, picked());
}

void MonitorWindow::say(const UserMessage &message)
{
    m_messages->show(this, message);
}

} // namespace kc
