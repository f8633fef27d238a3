#include "ui/BusScanWindow.h"

#include "line/BusScan.h"
#include "line/LineEngine.h"
#include "line/Monitor.h"
#include "line/PortClaims.h"
#include "protocol/PortNaming.h"
#include "ui/MainWindow.h"
#include "ui/MessageSink.h"
#include "ui/MonitorWindow.h"
#include "ui/ToolControls.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kc {

namespace {

QSpinBox *spin(QWidget *parent, const char *name, int low, int high, int value)
{
    auto *box = new QSpinBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setRange(low, high);
    box->setValue(value);
    return box;
}

} // namespace

BusScanWindow::BusScanWindow(MainWindow *main, MessageSink *messages)
    : QDialog(main), m_main(main), m_messages(messages),
      m_first(spin(this, "scanFirst", 1, maxScanStation, 1)),
      m_last(spin(this, "scanLast", 1, maxScanStation, maxScanStation)),
      m_timeout(spin(this, "scanTimeout", minTimeoutMs, maxTimeoutMs, 100)),
      m_start(namedButton(this, "scanStart", QStringLiteral("开始扫描"))),
      m_cancel(namedButton(this, "scanCancel", QStringLiteral("取消"))),
      m_export(namedButton(this, "scanExport", QStringLiteral("导出CSV..."))),
      m_watch(namedButton(this, "scanWatch", QStringLiteral("加入监视"))),
      m_single(new QCheckBox(QStringLiteral("仅一个模块"), this)),
      m_networkNote(new QLabel(msg::scanNetworkLine, this)), m_bar(new QProgressBar(this)),
      m_progressText(new QLabel(this)), m_table(new QTableWidget(0, 8, this)),
      m_port(new QLabel(this))
{
    setObjectName(QStringLiteral("busScan"));
    setWindowTitle(QStringLiteral("总线扫描"));
    resize(720, 460);
    auto *rates = new QHBoxLayout;
    for (int baud : moduleBauds()) {
        auto *box = new QCheckBox(QString::number(baud), this);
        box->setObjectName(QStringLiteral("scanBaud%1").arg(baud));
        box->setChecked(true);
        m_bauds.push_back(box);
        rates->addWidget(box);
    }
    auto *range = new QHBoxLayout;
    range->addWidget(m_first);
    range->addWidget(new QLabel(QStringLiteral("至"), this));
    range->addWidget(m_last);
    range->addStretch();
    m_timeout->setSuffix(QStringLiteral(" ms"));
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("波特率"), rates);
    m_networkNote->setObjectName(QStringLiteral("scanNetworkNote"));
    form->addRow(QString(), m_networkNote);
    form->addRow(QStringLiteral("站号范围"), range);
    form->addRow(QStringLiteral("探测超时"), m_timeout);
    m_single->setObjectName(QStringLiteral("scanSingle"));
    m_single->setToolTip(QStringLiteral(
        "线路上只接了一个模块时勾选：站号 250 读地址一旦得到完整应答即不再逐站扫描该波特率"));
    form->addRow(QString(), m_single);

    m_bar->setObjectName(QStringLiteral("scanProgress"));
    m_progressText->setObjectName(QStringLiteral("scanProgressText"));
    m_table->setObjectName(QStringLiteral("scanTable"));
    // "使用" first, where it stays in view however wide the rest grows.
    m_table->setHorizontalHeaderLabels({QString(), QStringLiteral("站号"), QStringLiteral("波特率"),
                                        QStringLiteral("设备信息"), QStringLiteral("温度"),
                                        QStringLiteral("湿度"), QStringLiteral("响应(ms)"),
                                        QStringLiteral("状态")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_cancel->setEnabled(false);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_start);
    buttons->addWidget(m_cancel);
    buttons->addStretch();
    buttons->addWidget(m_watch);
    buttons->addWidget(m_export);
    auto *layout = new QVBoxLayout(this);
    m_port->setObjectName(QStringLiteral("scanPort"));
    layout->addWidget(m_port);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(m_bar);
    layout->addWidget(m_progressText);
    layout->addWidget(m_table);

    connect(m_start, &QPushButton::clicked, this, &BusScanWindow::start);
    connect(m_cancel, &QPushButton::clicked, this, &BusScanWindow::cancel);
    connect(m_export, &QPushButton::clicked, this, &BusScanWindow::exportClicked);
    connect(m_watch, &QPushButton::clicked, this, &BusScanWindow::watchClicked);
}

// A network line's rate is set at the device server: the rate boxes have nothing to choose.
void BusScanWindow::followLine()
{
    const bool network = networkLine(m_main->portName()).has_value();
    for (QCheckBox *box : m_bauds)
        box->setEnabled(!network);
    m_networkNote->setVisible(network);
}

void BusScanWindow::start()
{
    followLine();
    QStringList rates;
    for (QCheckBox *box : m_bauds) {
        if (box->isChecked() || !box->isEnabled())
            rates << box->text();
    }
    const auto planned =
        planScan(rates.join(QLatin1Char(',')),
                 QStringLiteral("%1-%2").arg(m_first->value()).arg(m_last->value()),
                 QString::number(m_timeout->value()));
    if (const auto *refusal = std::get_if<UserMessage>(&planned)) {
        m_messages->show(this, *refusal);
        return;
    }
    showPort();
    m_engine = takeMainPort(m_main, Holder::BusScan, this, m_messages, this);
    if (!m_engine)
        return;
    m_found.clear();
    m_table->setRowCount(0);
    ScanRange range = std::get<ScanRange>(planned);
    range.singleModule = m_single->isChecked();
    m_scan = new BusScan(m_engine, range, this);
    connect(m_scan, &BusScan::progress, this, &BusScanWindow::showProgress);
    connect(m_scan, &BusScan::moduleFound, this, &BusScanWindow::addRow);
    connect(m_scan, &BusScan::moduleUpdated, this, &BusScanWindow::updateRow);
    connect(m_scan, &BusScan::finished, this, &BusScanWindow::finished);
    m_start->setEnabled(false);
    m_cancel->setEnabled(true);
    m_scan->start();
}

void BusScanWindow::cancel()
{
    if (m_scan)
        m_scan->cancel();
}

void BusScanWindow::showProgress(const ScanProgress &p)
{
    m_bar->setRange(0, p.probesDone + p.probesLeft);
    m_bar->setValue(p.probesDone);
    m_progressText->setText(scanProgressText(p));
}

void BusScanWindow::addRow(const FoundModule &m)
{
    m_found.push_back(m);
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    showRow(row, m);
    if (!m.answered())
        return;
    auto *use = new QPushButton(QStringLiteral("使用"), m_table);
    use->setObjectName(QStringLiteral("scanUse%1").arg(row));
    connect(use, &QPushButton::clicked, this, [this, m] { m_main->useModule(m.baud, m.station); });
    m_table->setCellWidget(row, 0, use);
}

void BusScanWindow::updateRow(int index, const FoundModule &m)
{
    m_found[index] = m;
    showRow(index, m);
}

void BusScanWindow::showRow(int row, const FoundModule &m)
{
    const QStringList cells = foundModuleFields(m);
    for (int c = 0; c < cells.size(); ++c)
        m_table->setItem(row, c + 1, new QTableWidgetItem(cells[c]));
    // Every rate a module answered at stays readable, not cut to "...".
    m_table->resizeColumnToContents(2);
}

void BusScanWindow::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    showPort();
}

void BusScanWindow::showPort()
{
    const QString port = m_main->portName();
    const int n = comNumber(port);
    const QString device = n > 0 ? portDevices().value(n - 1) : QString();
    m_port->setText(QStringLiteral("扫描串口：") + port +
                    (device.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(device)));
}

void BusScanWindow::finished(ScanEnd end)
{
    const QString error = portFailureText(end, m_main->portName(), m_engine->link()->device(),
                                          m_engine->link()->lastFailure());
    m_scan->deleteLater();
    m_scan = nullptr;
    m_main->portClaims()->release(std::exchange(m_engine, nullptr));
    m_start->setEnabled(true);
    m_cancel->setEnabled(false);
    const auto answered = std::count_if(m_found.begin(), m_found.end(),
                                        [](const FoundModule &m) { return m.answered(); });
    m_progressText->setText(!error.isEmpty() ? error
                            : end == ScanEnd::Cancelled
                                ? QStringLiteral("已取消，找到 %1 个模块").arg(answered)
                                : QStringLiteral("扫描完成，找到 %1 个模块").arg(answered));
    if (!error.isEmpty())
        m_messages->show(this, UserMessage{error, msg::errorTitle, true});
}

bool BusScanWindow::exportCsv(const QString &path)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(scanCsv(m_found).toUtf8()) >= 0 &&
           file.commit();
}

void BusScanWindow::exportClicked()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("导出CSV"), QString(),
                                                      QStringLiteral("CSV (*.csv)"));
    if (!path.isEmpty() && !exportCsv(path))
        m_messages->show(this, UserMessage{msg::fileUnwritable + path, msg::errorTitle, true});
}

// The modules that answered become rows of "多模块监视", on this window's port.
void BusScanWindow::watchClicked()
{
    // Every module answering, or none: the monitor polls one port at one rate.
    QStringList stations;
    int baud = 0;
    for (const FoundModule &m : m_found) {
        if (!m.answered())
            continue;
        if (baud != 0 && m.baud != baud) {
            m_messages->show(this, UserMessage{msg::baudPerPort});
            return;
        }
        baud = m.baud;
        stations << QString::number(m.station);
    }
    if (stations.isEmpty())
        return;
    MonitorWindow *monitor = m_main->monitorWindow();
    if (const auto refusal =
            monitor->monitor()->add(m_main->portName(), stations.join(QLatin1Char(',')), baud)) {
        m_messages->show(this, *refusal);
        return;
    }
    monitor->show();
    monitor->raise();
}

void BusScanWindow::done(int result)
{
    cancel();
    QDialog::done(result);
}

void showBusScan(MainWindow *main, MessageSink *messages)
{
    auto *window = main->findChild<BusScanWindow *>();
    if (!window)
        window = new BusScanWindow(main, messages);
    window->followLine();
    window->show();
    window->raise();
}

} // namespace kc
