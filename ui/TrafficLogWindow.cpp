#include "ui/TrafficLogWindow.h"

#include "ui/MessageSink.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QTextStream>
#include <QVBoxLayout>

namespace kc {

TrafficLogWindow::TrafficLogWindow(MessageSink *messages, QWidget *parent)
    : QWidget(parent, Qt::Window), m_messages(messages), m_view(new QPlainTextEdit(this)),
      m_pauseButton(new QPushButton(QStringLiteral("暂停"), this))
{
    setObjectName(QStringLiteral("trafficLog"));
    setWindowTitle(QStringLiteral("通讯记录"));
    resize(760, 420);
    m_view->setObjectName(QStringLiteral("trafficLines"));
    m_view->setReadOnly(true);
    m_view->setUndoRedoEnabled(false);
    // The view drops its oldest line as the log does, so each line costs the same.
    m_view->setMaximumBlockCount(TrafficLog::defaultCapacity);
    m_view->setLineWrapMode(QPlainTextEdit::NoWrap);
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
    connect(clear, &QPushButton::clicked, this, &TrafficLogWindow::clearAll);
    connect(save, &QPushButton::clicked, this, &TrafficLogWindow::saveClicked);
}

void TrafficLogWindow::record(const TrafficEntry &entry)
{
    if (m_paused)
        return;
    m_log.add(entry);
    m_view->appendPlainText(TrafficLog::line(entry));
}

void TrafficLogWindow::togglePause()
{
    m_paused = !m_paused;
    m_pauseButton->setText(m_paused ? QStringLiteral("继续") : QStringLiteral("暂停"));
}

void TrafficLogWindow::clearAll()
{
    m_log.clear();
    m_view->clear();
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
    for (const TrafficEntry &e : m_log.entries())
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
