#pragma once

#include <QPointer>

class QWidget;

namespace kc {

class LineEngine;
class MainWindow;
class MessageSink;

// A tool window's hold on the main window's port, through a line engine of
// its own at the operator's rate and response timeout.
class PortLease
{
public:
    explicit PortLease(MainWindow *main) : m_main(main) {}
    PortLease(const PortLease &) = delete;
    PortLease &operator=(const PortLease &) = delete;

    // The engine, the port borrowed and opened on first use; nullptr after
    // telling the operator why not.
    LineEngine *take(MessageSink *messages, QWidget *parent);
    LineEngine *engine() const { return m_engine; }
    // Closes the port and gives it back. The engine goes once control is back
    // in the event loop, as one of its signals may be running.
    void giveBack();

private:
    QPointer<MainWindow> m_main;
    LineEngine *m_engine = nullptr;
};

} // namespace kc
