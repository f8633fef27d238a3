#pragma once

#include "operations/TrafficLog.h"

#include <QAbstractScrollArea>
#include <QWidget>

class QPushButton;

namespace kc {

class MessageSink;

// The log's lines, drawn straight from the log: only the rows in sight are
// painted and nothing is laid out per line, so a line costs the same with one
// line held or a hundred thousand.
class TrafficLogView : public QAbstractScrollArea
{
public:
    TrafficLogView(const TrafficLog &log, QWidget *parent);
    // The log changed: follow its end when the reader was there.
    void refresh();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    int visibleRows() const;
    const TrafficLog &m_log;
};

// "通讯记录": every frame sent and received, with its time and outcome. It
// records while hidden, so opening it shows what happened before.
class TrafficLogWindow : public QWidget
{
    Q_OBJECT
public:
    explicit TrafficLogWindow(MessageSink *messages, QWidget *parent = nullptr);

    void record(const TrafficEntry &entry);
    const TrafficLog &log() const { return m_log; }
    bool paused() const { return m_paused; }
    // A name ending in ".csv" gets CSV rows, any other plain lines.
    bool saveTo(const QString &path);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void togglePause();
    void clearAll();
    void saveClicked();

    MessageSink *m_messages;
    TrafficLog m_log;
    bool m_paused = false;
    TrafficLogView *m_view;
    QPushButton *m_pauseButton;
};

} // namespace kc
