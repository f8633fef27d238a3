#include "ui/CommissioningWindow.h"

#include "line/Commissioner.h"
#include "line/LineEngine.h"
#include "operations/Scan.h"
#include "ui/MainWindow.h"
#include "ui/MessageSink.h"
#include "ui/ToolControls.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kc {

namespace {

enum Column { RowColumn, CaptionColumn, ModuleColumn, TemplateColumn, ResultColumn };

QSpinBox *spin(QWidget *parent, const char *name, int low, int high, int value)
{
    auto *box = new QSpinBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setRange(low, high);
    box->setValue(value);
    return box;
}

QLabel *label(QWidget *parent, const char *name, const QString &text = {})
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    return l;
}

} // namespace

CommissioningWindow::CommissioningWindow(MainWindow *main, MessageSink *messages)
    : QDialog(main), m_main(main), m_messages(messages),
      m_templateName(label(this, "wizardTemplate", QStringLiteral("未加载模板"))),
      m_station(spin(this, "wizardStation", 1, maxScanStation,
                     std::clamp(writeStation(main->stationText()).value_or(1), 1, maxScanStation))),
      m_table(new QTableWidget(0, 5, this)),
      m_load(namedButton(this, "wizardLoad", QStringLiteral("加载模板..."))),
      m_read(namedButton(this, "wizardRead", QStringLiteral("读取模块"))),
      m_write(namedButton(this, "wizardWrite", QStringLiteral("写入差异"))),
      m_start(spin(this, "wizardStart", 1, maxScanStation, 1)),
      m_step(spin(this, "wizardStep", 1, maxScanStation - 1, 1)), m_next(label(this, "wizardNext")),
      m_reportButton(namedButton(this, "wizardReport", QStringLiteral("报告文件..."))),
      m_reportName(label(this, "wizardReportName", QStringLiteral("未选择报告文件"))),
      m_nextModule(namedButton(this, "wizardNextModule", QStringLiteral("下一个模块"))),
      m_cancel(namedButton(this, "wizardCancel", QStringLiteral("取消"))),
      m_status(label(this, "wizardStatus"))
{
    setObjectName(QStringLiteral("commissioning"));
    setWindowTitle(QStringLiteral("调试向导"));
    resize(680, 600);
    m_table->setObjectName(QStringLiteral("wizardTable"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("行"), QStringLiteral("名称"),
                                        QStringLiteral("模块值"), QStringLiteral("模板值"),
                                        QStringLiteral("结果")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);

    auto *top = new QHBoxLayout;
    top->addWidget(m_load);
    top->addWidget(m_templateName, 1);
    auto *module = new QHBoxLayout;
    module->addWidget(new QLabel(QStringLiteral("站号"), this));
    module->addWidget(m_station);
    module->addWidget(m_read);
    module->addWidget(m_write);
    module->addStretch();

    auto *assign = new QGroupBox(QStringLiteral("地址分配"), this);
    auto *form = new QFormLayout(assign);
    auto *counter = new QHBoxLayout;
    counter->addWidget(m_start);
    counter->addWidget(new QLabel(QStringLiteral("步长"), this));
    counter->addWidget(m_step);
    counter->addWidget(m_next);
    counter->addStretch();
    form->addRow(QStringLiteral("起始地址"), counter);
    auto *report = new QHBoxLayout;
    report->addWidget(m_reportButton);
    report->addWidget(m_reportName, 1);
    form->addRow(QStringLiteral("报告"), report);
    form->addRow(QString(), m_nextModule);

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_status, 1);
    bottom->addWidget(m_cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(module);
    layout->addWidget(m_table);
    layout->addWidget(assign);
    layout->addLayout(bottom);

    connect(m_load, &QPushButton::clicked, this, &CommissioningWindow::loadClicked);
    connect(m_read, &QPushButton::clicked, this, &CommissioningWindow::readModule);
    connect(m_write, &QPushButton::clicked, this, &CommissioningWindow::writeDifferences);
    connect(m_reportButton, &QPushButton::clicked, this, &CommissioningWindow::chooseReport);
    connect(m_nextModule, &QPushButton::clicked, this, &CommissioningWindow::nextModule);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        if (m_commissioner)
            m_commissioner->cancel();
    });
    connect(m_start, &QSpinBox::valueChanged, this, [this](int start) {
        m_nextAddress = start;
        showNextAddress();
    });
    setBusy(false);
    showNextAddress();
}

CommissioningWindow::~CommissioningWindow() = default;

bool CommissioningWindow::loadTemplate(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_messages->show(this, UserMessage{msg::fileUnreadable + path, msg::errorTitle, true});
        return false;
    }
    const auto parsed = parseTemplate(file.read(maxTemplateBytes + 1));
    if (const auto *refusal = std::get_if<UserMessage>(&parsed)) {
        m_messages->show(this, UserMessage{refusal->text, msg::errorTitle, true});
        return false;
    }
    m_template = std::get<Template>(parsed);
    m_templateName->setText(QFileInfo(path).fileName() + QStringLiteral("  ") + m_template->device);
    m_diffs.clear();
    m_table->setRowCount(0);
    for (const TemplateRow &r : m_template->rows) {
        const int row = m_table->rowCount();
        m_table->insertRow(row);
        m_table->setItem(row, RowColumn, new QTableWidgetItem(QString::number(r.row)));
        m_table->setItem(row, CaptionColumn,
                         new QTableWidgetItem(QString::fromUtf8(registerMap()[r.row].caption)));
        m_table->setItem(row, TemplateColumn, new QTableWidgetItem(decodeWord(r.row, r.word)));
    }
    say(QStringLiteral("模板有 %1 行，请读取模块").arg(m_template->rows.size()));
    setBusy(false);
    return true;
}

void CommissioningWindow::loadClicked()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("加载模板"), QString(),
                                                      QStringLiteral("模板 (*.json)"));
    if (!path.isEmpty())
        loadTemplate(path);
}

Commissioner *CommissioningWindow::commissioner()
{
    if (!m_template) {
        say(QStringLiteral("请先加载模板"));
        return nullptr;
    }
    if (!m_commissioner) {
        // New modules come at the rate the operator had set: a rate written to one
        // module since does not change where the next is looked for.
        m_benchBaud = m_main->operatorBaud();
        m_engine = takeMainPort(m_main, Holder::Commissioning, this, m_messages, this);
        if (m_engine)
            m_commissioner = std::make_unique<Commissioner>(*m_engine);
    }
    return m_commissioner.get();
}

void CommissioningWindow::readModule()
{
    Commissioner *c = commissioner();
    if (!c)
        return;
    setBusy(true);
    const auto words = c->readModule(m_station->value());
    setBusy(false);
    if (const auto *failed = std::get_if<Outcome>(&words)) {
        say(msg::moduleReadFailed + outcomeText(*failed));
        return;
    }
    m_diffs = differences(*m_template, std::get<RegisterWords>(words));
    showDiffs();
    const auto differing = writeOrder(m_diffs).size();
    say(differing ? QStringLiteral("有 %1 行与模板不同").arg(differing)
                  : QStringLiteral("模块与模板一致"));
    setBusy(false);
}

void CommissioningWindow::writeDifferences()
{
    Commissioner *c = commissioner();
    if (!c)
        return;
    setBusy(true);
    const int station = m_station->value();
    const QVector<RowWrite> rows =
        c->apply(station, m_diffs, [this](const RowWrite &w) { showRow(w); });
    m_diffs.clear();
    setBusy(false);
    const auto failed = std::count_if(
        rows.begin(), rows.end(), [](const RowWrite &w) { return w.result == RowResult::Failed; });
    // A module moved to another rate is reached there from now on.
    for (const RowWrite &w : rows) {
        if (w.diff.row == 12 && w.result == RowResult::Confirmed)
            m_main->useModule(w.diff.word, station);
    }
    say(failed ? QStringLiteral("写入 %1 行，%2 行失败").arg(rows.size()).arg(failed)
               : QStringLiteral("写入 %1 行，全部回读一致").arg(rows.size()));
}

void CommissioningWindow::chooseReport()
{
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("报告文件"), QString(), QStringLiteral("CSV (*.csv)"), nullptr,
        QFileDialog::DontConfirmOverwrite); // the report is appended to, never replaced
    if (path.isEmpty())
        return;
    if (!m_report.open(path)) {
        m_messages->show(this, UserMessage{msg::fileUnwritable + path, msg::errorTitle, true});
        return;
    }
    m_reportName->setText(path);
}

void CommissioningWindow::nextModule()
{
    if (!m_report.isOpen())
        chooseReport();
    if (!m_report.isOpen())
        return;
    if (m_nextAddress > maxScanStation) {
        say(QStringLiteral("下一地址超出 1-247，请重设起始地址"));
        return;
    }
    Commissioner *c = commissioner();
    if (!c)
        return;
    setBusy(true);
    m_table->setRowCount(0);
    const ModuleReport r = c->commissionNext(m_benchBaud, m_nextAddress, *m_template);
    setBusy(false);
    m_diffs.clear();
    for (const RowWrite &w : r.rows)
        m_diffs.push_back(w.diff);
    showDiffs();
    m_diffs.clear(); // written already: nothing for "写入差异"
    for (const RowWrite &w : r.rows)
        showRow(w);
    if (r.oldAddress >= 0 && !m_report.append(r)) {
        // A module without its line in the report is not done: the address stays
        // and the run waits for a report that takes it.
        say(msg::reportStopped);
        m_messages->show(this,
                         UserMessage{msg::reportLineUnwritten.arg(m_report.path(), reportLine(r)),
                                     msg::errorTitle, true});
        return;
    }
    if (r.newAddress >= 0) {
        m_nextAddress += m_step->value();
        showNextAddress();
    }
    const QString module =
        QStringLiteral("模块 %1：地址 %2 → %3 ").arg(r.device).arg(r.oldAddress).arg(r.newAddress);
    say(r.oldAddress < 0 ? moduleNote(r)
        : r.passed       ? module + QStringLiteral("通过，请接上下一个模块")
                         : module + QStringLiteral("未通过：") + moduleNote(r));
}

void CommissioningWindow::showDiffs()
{
    m_table->setRowCount(0);
    for (const RowDiff &d : m_diffs) {
        const int row = m_table->rowCount();
        m_table->insertRow(row);
        const QStringList cells{
            QString::number(d.row), QString::fromUtf8(registerMap()[d.row].caption), d.moduleText,
            d.templateText, d.differs ? QStringLiteral("不同") : QStringLiteral("相同")};
        for (int c = 0; c < cells.size(); ++c) {
            auto *item = new QTableWidgetItem(cells[c]);
            // The rows "写入差异" would write stand out.
            if (d.differs) {
                item->setBackground(QColor(255, 204, 102));
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
            }
            m_table->setItem(row, c, item);
        }
    }
}

void CommissioningWindow::showRow(const RowWrite &w)
{
    for (int row = 0; row < m_table->rowCount(); ++row) {
        if (m_table->item(row, RowColumn)->text() == QString::number(w.diff.row))
            m_table->setItem(row, ResultColumn, new QTableWidgetItem(rowResultText(w)));
    }
}

void CommissioningWindow::showNextAddress()
{
    m_next->setText(QStringLiteral("下一地址：%1").arg(m_nextAddress));
}

void CommissioningWindow::setBusy(bool busy)
{
    m_busy = busy;
    for (QWidget *w : std::initializer_list<QWidget *>{m_load, m_reportButton, m_station, m_start,
                                                       m_step})
        w->setEnabled(!busy);
    // Reading a module means comparing it with a template: none loaded, nothing to do.
    for (QWidget *w : std::initializer_list<QWidget *>{m_read, m_nextModule})
        w->setEnabled(!busy && m_template.has_value());
    m_read->setToolTip(m_template ? QString() : QStringLiteral("请先加载模板"));
    m_write->setEnabled(!busy && !writeOrder(m_diffs).isEmpty());
    m_cancel->setEnabled(busy);
}

void CommissioningWindow::say(const QString &text)
{
    m_status->setText(text);
}

void CommissioningWindow::done(int result)
{
    if (m_busy) {
        m_commissioner->cancel();
        say(QStringLiteral("正在停止..."));
        return;
    }
    m_commissioner.reset();
    if (m_engine)
        m_main->portClaims()->release(std::exchange(m_engine, nullptr));
    QDialog::done(result);
}

void showCommissioning(MainWindow *main, MessageSink *messages, const QString &templatePath)
{
    auto *window = main->findChild<CommissioningWindow *>();
    if (!window)
        window = new CommissioningWindow(main, messages);
    if (!templatePath.isEmpty() && !window->loadTemplate(templatePath))
        return;
    window->show();
    window->raise();
}

void openTemplate(MainWindow *main, MessageSink *messages)
{
    const QString path = QFileDialog::getOpenFileName(main, QStringLiteral("打开模板"), QString(),
                                                      QStringLiteral("模板 (*.json)"));
    if (!path.isEmpty())
        showCommissioning(main, messages, path);
}

} // namespace kc
