#include "ui/TrafficLogWindow.h"

#include "ui/MessageSink.h"

#include <QAction>
#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSaveFile>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QTableView>
#include <QTextStream>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace kc {

TrafficLogModel::TrafficLogModel(const TrafficLog &log, QObject *parent)
    : QAbstractTableModel(parent), m_log(log)
{
}

int TrafficLogModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_count;
}

int TrafficLogModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

const TrafficLog::Row *TrafficLogModel::rowAt(int row) const
{
    const qint64 at = m_first + row - m_log.firstSerial();
    if (row < 0 || row >= m_count || at < 0 || at >= qint64(m_log.entries().size()))
        return nullptr;
    return &m_log.entries()[std::size_t(at)];
}

QVariant TrafficLogModel::data(const QModelIndex &index, int role) const
{
    const TrafficLog::Row *row = rowAt(index.row());
    if (!row || role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case Time:
        return TrafficLog::timeText(*row);
    case Direction:
        return TrafficLog::directionText(*row);
    case Port:
        return row->port;
    case Outcome:
        return row->outcome;
    case Bytes:
        return TrafficLog::bytesText(*row);
    }
    return {};
}

QVariant TrafficLogModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const QString titles[ColumnCount] = {QStringLiteral("时间"), QStringLiteral("方向"),
                                                QStringLiteral("端口"), QStringLiteral("结果"),
                                                QStringLiteral("数据")};
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < ColumnCount)
        return titles[section];
    return QAbstractTableModel::headerData(section, orientation, role);
}

int TrafficLogModel::catchUp()
{
    const qint64 logFirst = m_log.firstSerial();
    const int gone = int(std::clamp<qint64>(logFirst - m_first, 0, m_count));
    if (gone > 0) {
        beginRemoveRows({}, 0, gone - 1);
        m_count -= gone;
        m_first += gone;
        endRemoveRows();
    }
    if (m_count == 0)
        m_first = logFirst;
    const int added = int(logFirst + qint64(m_log.entries().size()) - m_first) - m_count;
    if (added > 0) {
        beginInsertRows({}, m_count, m_count + added - 1);
        m_count += added;
        endInsertRows();
    }
    return gone;
}

TrafficLogWindow::TrafficLogWindow(MessageSink *messages, QWidget *parent)
    : QWidget(parent, Qt::Window), m_messages(messages), m_model(new TrafficLogModel(m_log, this)),
      m_view(new QTableView(this)), m_pauseButton(new QPushButton(QStringLiteral("暂停"), this)),
      m_catchUpTimer(new QTimer(this))
{
    setObjectName(QStringLiteral("trafficLog"));
    setWindowTitle(QStringLiteral("通讯记录"));
    resize(760, 420);

    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::Monospace);
    m_view->setFont(mono);
    m_view->setObjectName(QStringLiteral("trafficLines"));
    m_view->setModel(m_model);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_view->setWordWrap(false);
    m_view->setShowGrid(false);
    m_view->setCornerButtonEnabled(false);
    // Rows of one fixed height: the table places a row by arithmetic and lays
    // out only the rows in sight, whatever the count.
    m_view->verticalHeader()->hide();
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 4);
    m_view->horizontalHeader()->setHighlightSections(false);
    m_view->horizontalHeader()->resizeSections(QHeaderView::ResizeToContents);

    auto *copy = new QAction(QStringLiteral("复制"), m_view);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    m_view->addAction(copy);
    m_view->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(copy, &QAction::triggered, this, &TrafficLogWindow::copySelection);

    m_pauseButton->setObjectName(QStringLiteral("trafficPause"));
    auto *clear = new QPushButton(QStringLiteral("清除"), this);
    clear->setObjectName(QStringLiteral("trafficClear"));
    auto *save = new QPushButton(QStringLiteral("保存..."), this);
    save->setObjectName(QStringLiteral("trafficSave"));
    auto *listen = new QPushButton(QStringLiteral("监听..."), this);
    listen->setObjectName(QStringLiteral("trafficListen"));
    listen->setToolTip(QStringLiteral("只听不发：解读线路上另一主站的请求和应答"));

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_pauseButton);
    buttons->addWidget(clear);
    buttons->addWidget(listen);
    buttons->addStretch();
    buttons->addWidget(save);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_view);
    layout->addLayout(buttons);

    m_catchUpTimer->setObjectName(QStringLiteral("trafficCatchUp"));
    m_catchUpTimer->setSingleShot(true);
    m_catchUpTimer->setInterval(100);
    connect(m_catchUpTimer, &QTimer::timeout, this, &TrafficLogWindow::catchUp);
    // Rows come into sight by scrolling and by a taller window as well.
    connect(m_view->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &TrafficLogWindow::widenToVisibleRows);
    connect(m_view->verticalScrollBar(), &QScrollBar::rangeChanged, this,
            &TrafficLogWindow::widenToVisibleRows);
    connect(m_pauseButton, &QPushButton::clicked, this, &TrafficLogWindow::togglePause);
    connect(clear, &QPushButton::clicked, this, &TrafficLogWindow::clearAll);
    connect(save, &QPushButton::clicked, this, &TrafficLogWindow::saveClicked);
    connect(listen, &QPushButton::clicked, this, &TrafficLogWindow::listenWanted);
}

// The table goes first: going, it may still lay itself out and ask for rows,
// which must not reach a log already gone.
TrafficLogWindow::~TrafficLogWindow()
{
    delete m_view;
}

void TrafficLogWindow::record(const TrafficEntry &entry)
{
    if (m_paused)
        return;
    m_log.add(entry);
    if (isVisible() && !m_catchUpTimer->isActive())
        m_catchUpTimer->start();
}

void TrafficLogWindow::setCapacity(int capacity)
{
    m_log.setCapacity(capacity);
    if (isVisible())
        catchUp();
}

// Follows the end while the reader is there; otherwise the rows in sight stay
// in place as the oldest ones go.
void TrafficLogWindow::catchUp()
{
    QScrollBar *bar = m_view->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    const int top = bar->value();
    {
        // The scroll bar moves several times on the way: the columns are fitted once.
        const QScopedValueRollback<bool> once(m_catchingUp, true);
        const int gone = m_model->catchUp();
        if (atEnd)
            m_view->scrollToBottom();
        else
            bar->setValue(top - gone);
    }
    widenToVisibleRows();
}

// A column grows to the widest cell in sight and never shrinks, so a whole
// frame can always be read (scrolling sideways if need be) and the columns do
// not jump about as rows pass.
void TrafficLogWindow::widenToVisibleRows()
{
    const int first = m_view->rowAt(0);
    if (first < 0 || m_catchingUp)
        return;
    int last = m_view->rowAt(m_view->viewport()->height() - 1);
    if (last < 0)
        last = m_model->rowCount() - 1;
    // A character's width between columns, which have no grid lines.
    const int gap = m_view->fontMetrics().averageCharWidth();
    QHeaderView *header = m_view->horizontalHeader();
    for (int column = 0; column < TrafficLogModel::ColumnCount; ++column) {
        int widest = header->sectionSize(column);
        for (int row = first; row <= last; ++row)
            widest = std::max(widest,
                              m_view->sizeHintForIndex(m_model->index(row, column)).width() + gap);
        if (widest > header->sectionSize(column))
            header->resizeSection(column, widest);
    }
}

// What was recorded while hidden is there when the window opens.
void TrafficLogWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    catchUp();
}

void TrafficLogWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_catchUpTimer->stop();
}

void TrafficLogWindow::clearAll()
{
    m_log.clear();
    m_model->catchUp();
    m_view->horizontalHeader()->resizeSections(QHeaderView::ResizeToContents);
}

void TrafficLogWindow::togglePause()
{
    m_paused = !m_paused;
    m_pauseButton->setText(m_paused ? QStringLiteral("继续") : QStringLiteral("暂停"));
}

void TrafficLogWindow::copySelection()
{
    QModelIndexList rows = m_view->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    QString text;
    for (const QModelIndex &index : rows) {
        if (const TrafficLog::Row *row = m_model->rowAt(index.row()))
            text += TrafficLog::line(*row) + QLatin1Char('\n');
    }
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

bool TrafficLogWindow::saveTo(const QString &path)
{
    const bool csv = path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QTextStream out(&file);
    if (csv)
        out << TrafficLog::csvHeader() << '\n';
    for (const TrafficLog::Row &row : m_log.entries())
        out << (csv ? TrafficLog::csvRow(row) : TrafficLog::line(row)) << '\n';
    out.flush();
    return file.commit();
}

void TrafficLogWindow::saveClicked()
{
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("保存通讯记录"), QStringLiteral("通讯记录.txt"),
        QStringLiteral("文本文件 (*.txt);;CSV 文件 (*.csv)"));
    if (!path.isEmpty() && !saveTo(path))
        m_messages->show(
            this, UserMessage{QStringLiteral("无法保存文件：") + path, msg::errorTitle, true});
}

} // namespace kc
