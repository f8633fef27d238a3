#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QTableWidget;

namespace kc {

class LineEngine;
class ListenFramer;
class MainWindow;
class MessageSink;
struct HeardExchange;

// "监听": the main window's port opened at its rate and nothing ever sent;
// another master's requests with their replies, decoded, and each station's
// totals. The port is held the whole time, so nothing of this program sends
// on it meanwhile.
class ListenWindow : public QDialog
{
    Q_OBJECT
public:
    ListenWindow(MainWindow *main, MessageSink *messages);

    bool listening() const { return m_listener != nullptr; }
    // The window goes: listening stops and the port goes back.
    void done(int result) override;

    // Rows kept in the table; older ones make room.
    static constexpr int rowsKept = 2000;

private:
    void start();
    void stop();
    void add(const HeardExchange &exchange);
    void showTotals();

    MainWindow *m_main;
    MessageSink *m_messages;
    LineEngine *m_engine = nullptr; // while listening
    ListenFramer *m_listener = nullptr;
    QPushButton *m_start;
    QPushButton *m_stop;
    QTableWidget *m_table;
    QLabel *m_totals;
};

// "通讯记录" → "监听...": the one listening window, shown.
void showListening(MainWindow *main, MessageSink *messages);

} // namespace kc
