#pragma once

#include "operations/TrafficLog.h"

#include <QWidget>

class QPlainTextEdit;
class QPushButton;

namespace kc {

class MessageSink;

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

private:
    void togglePause();
    void clearAll();
    void saveClicked();

    MessageSink *m_messages;
    TrafficLog m_log;
    bool m_paused = false;
    QPlainTextEdit *m_view;
    QPushButton *m_pauseButton;
};

} // namespace kc
