#include "ui/ListenWindow.h"

#include "line/LineEngine.h"
#include "line/ListenFramer.h"
#include "line/PortClaims.h"
#include "ui/MainWindow.h"
#include "ui/MessageSink.h"
#include "ui/ToolControls.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QTime>
#include <QVBoxLayout>

namespace kc {

ListenWindow::ListenWindow(MainWindow *main, MessageSink *messages)
    : QDialog(main), m_main(main), m_messages(messages),
      m_start(namedButton(this, "listenStart", QStringLiteral("开始监听"))),
      m_stop(namedButton(this, "listenStop", QStringLiteral("停止"))),
      m_table(new QTableWidget(0, 6, this)), m_totals(new QLabel(this))
{
    setObjectName(QStringLiteral("listening"));
    setWindowTitle(QStringLiteral("监听"));
    resize(820, 480);
    m_table->setObjectName(QStringLiteral("listenTable"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("时间"), QStringLiteral("站号"),
                                        QStringLiteral("请求"), QStringLiteral("结果"),
                                        QStringLiteral("响应(ms)"), QStringLiteral("数据")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_totals->setObjectName(QStringLiteral("listenTotals"));
    m_totals->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_totals->setText(QStringLiteral("只听不发：串口打开后本程序不发送任何字节"));
    m_stop->setEnabled(false);
    auto *clear = namedButton(this, "listenClear", QStringLiteral("清除"));

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_start);
    buttons->addWidget(m_stop);
    buttons->addWidget(clear);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(m_table);
    layout->addWidget(m_totals);

    connect(m_start, &QPushButton::clicked, this, &ListenWindow::start);
    connect(m_stop, &QPushButton::clicked, this, &ListenWindow::stop);
    connect(clear, &QPushButton::clicked, this, [this] { m_table->setRowCount(0); });
}

void ListenWindow::start()
{
    m_engine = takeMainPort(m_main, Holder::Listening, this, m_messages, this);
    if (!m_engine)
        return;
    m_listener = new ListenFramer(m_engine, {}, this);
    connect(m_listener, &ListenFramer::exchange, this, &ListenWindow::add);
    connect(m_engine, &LineEngine::lineLost, this, [this] {
        stop();
        m_messages->show(this, UserMessage{msg::portLost, msg::errorTitle, true});
    });
    m_start->setEnabled(false);
    m_stop->setEnabled(true);
    showTotals();
}

void ListenWindow::stop()
{
    if (!m_listener)
        return;
    m_listener->finish();
    showTotals();
    delete std::exchange(m_listener, nullptr);
    m_main->portClaims()->release(std::exchange(m_engine, nullptr));
    m_start->setEnabled(true);
    m_stop->setEnabled(false);
}

void ListenWindow::add(const HeardExchange &x)
{
    if (m_table->rowCount() >= rowsKept)
        m_table->removeRow(0);
    const QStringList cells{
        QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")),
        QString::number(x.station()),
        heardRequestText(x),
        heardOutcomeText(x),
        x.outcome.responseMs < 0 ? QString() : QString::number(x.outcome.responseMs, 'f', 1),
        heardValuesText(x)};
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    for (int c = 0; c < cells.size(); ++c)
        m_table->setItem(row, c, new QTableWidgetItem(cells[c]));
    m_table->scrollToBottom();
    showTotals();
}

void ListenWindow::showTotals()
{
    QStringList lines;
    const HeardTraffic &traffic = m_listener->traffic();
    for (auto it = traffic.stations().cbegin(); it != traffic.stations().cend(); ++it)
        lines << listenTotalsText(it.key(), it.value());
    lines << listenNoiseText(traffic);
    m_totals->setText(lines.join(QLatin1Char('\n')));
}

void ListenWindow::done(int result)
{
    stop();
    QDialog::done(result);
}

void showListening(MainWindow *main, MessageSink *messages)
{
    auto *window = main->findChild<ListenWindow *>();
    if (!window)
        window = new ListenWindow(main, messages);
    window->show();
    window->raise();
}

} // namespace kc
