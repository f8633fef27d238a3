#include "ui/TrafficLogWindow.h"

#include "ui/MessageSink.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QListView>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QTextStream>
#include <QVBoxLayout>

namespace kc {

int TrafficLogModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_log.entries().size());
}

QVariant TrafficLogModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid())
        return {};
    return TrafficLog::line(m_log.entries()[std::size_t(index.row())]);
}

void TrafficLogModel::add(const TrafficEntry &entry)
{
    if (rowCount() >= TrafficLog::defaultCapacity) {
        beginRemoveRows({}, 0, 0);
        m_log.dropOldest();
        endRemoveRows();
    }
    const int row = rowCount();
    beginInsertRows({}, row, row);
    m_log.add(entry);
    endInsertRows();
}

void TrafficLogModel::clear()
{
    beginResetModel();
    m_log.clear();
    endResetModel();
}

TrafficLogWindow::TrafficLogWindow(MessageSink *messages, QWidget *parent)
    : QWidget(parent, Qt::Window), m_messages(messages), m_view(new QListView(this)),
      m_pauseButton(new QPushButton(QStringLiteral("暂停"), this))
{
    setObjectName(QStringLiteral("trafficLog"));
    setWindowTitle(QStringLiteral("通讯记录"));
    resize(760, 420);
    m_view->setObjectName(QStringLiteral("trafficLines"));
    m_view->setModel(&m_model);
    m_view->setUniformItemSizes(true);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::Monospace);
    m_view->setFont(mono);
    m_pauseButton->setObjectName(QStringLiteral("trafficPause"));
    auto *clear = new QPushButton(QStringLiteral("清除"), this);
    clear->setObjectName(QStringLiteral("trafficClear"));
    auto *save = new QPushButton(QStringLiteral("保存..."), this);
    save->setObjectName(QStringLiteral("trafficSave"));

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_pauseButton);
    buttons->addWidget(clear);
    buttons->addStretch();
    buttons->addWidget(save);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_view);
    layout->addLayout(buttons);

    connect(m_pauseButton, &QPushButton::clicked, this, &TrafficLogWindow::togglePause);
    connect(clear, &QPushButton::clicked, &m_model, &TrafficLogModel::clear);
    connect(save, &QPushButton::clicked, this, &TrafficLogWindow::saveClicked);
}

void TrafficLogWindow::record(const TrafficEntry &entry)
{
    if (m_paused)
        return;
    // Follow the newest line only when the reader is already at the end.
    const QScrollBar *bar = m_view->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    m_model.add(entry);
    if (atEnd && isVisible())
        m_view->scrollToBottom();
}

void TrafficLogWindow::togglePause()
{
    m_paused = !m_paused;
    m_pauseButton->setText(m_paused ? QStringLiteral("继续") : QStringLiteral("暂停"));
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
    for (const TrafficEntry &e : log().entries())
        out << (csv ? TrafficLog::csvRow(e) : TrafficLog::line(e)) << '\n';
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
