#include "ui/TrafficLogWindow.h"

#include "ui/MessageSink.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QTextStream>
#include <QVBoxLayout>

namespace kc {

TrafficLogView::TrafficLogView(const TrafficLog &log, QWidget *parent)
    : QAbstractScrollArea(parent), m_log(log)
{
    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::Monospace);
    setFont(mono);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

int TrafficLogView::visibleRows() const
{
    return std::max(1, viewport()->height() / fontMetrics().lineSpacing());
}

void TrafficLogView::refresh()
{
    QScrollBar *bar = verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    bar->setRange(0, std::max(0, int(m_log.entries().size()) - visibleRows()));
    bar->setPageStep(visibleRows());
    if (atEnd)
        bar->setValue(bar->maximum());
    viewport()->update();
}

void TrafficLogView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    refresh();
}

void TrafficLogView::paintEvent(QPaintEvent *)
{
    QPainter p(viewport());
    const int spacing = fontMetrics().lineSpacing();
    const auto &entries = m_log.entries();
    const int first = verticalScrollBar()->value();
    const int last = std::min(int(entries.size()), first + visibleRows() + 1);
    for (int row = first; row < last; ++row)
        p.drawText(4, (row - first) * spacing + fontMetrics().ascent(),
                   TrafficLog::line(entries[std::size_t(row)]));
}

TrafficLogWindow::TrafficLogWindow(MessageSink *messages, QWidget *parent)
    : QWidget(parent, Qt::Window), m_messages(messages), m_view(new TrafficLogView(m_log, this)),
      m_pauseButton(new QPushButton(QStringLiteral("暂停"), this))
{
    setObjectName(QStringLiteral("trafficLog"));
    setWindowTitle(QStringLiteral("通讯记录"));
    resize(760, 420);
    m_view->setObjectName(QStringLiteral("trafficLines"));
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
    connect(clear, &QPushButton::clicked, this, &TrafficLogWindow::clearAll);
    connect(save, &QPushButton::clicked, this, &TrafficLogWindow::saveClicked);
}

void TrafficLogWindow::record(const TrafficEntry &entry)
{
    if (m_paused)
        return;
    m_log.add(entry);
    if (isVisible())
        m_view->refresh();
}

// What was recorded while hidden is there when the window opens.
void TrafficLogWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_view->refresh();
}

void TrafficLogWindow::clearAll()
{
    m_log.clear();
    m_view->refresh();
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
    for (const TrafficLog::Row &e : m_log.entries())
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
