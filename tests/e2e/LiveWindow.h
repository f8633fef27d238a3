#pragma once

#include "protocol/QtSerialLink.h"
#include "support/ControlText.h"
#include "support/MessageRecorder.h"
#include "ui/MainWindow.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// The real window over the real serial link, with COM1 mapped to a device
// (the simulated module's pseudo-terminal, or a link to it) and messages recorded.
class LiveWindow
{
public:
    explicit LiveWindow(const QString &com1Device);
    ~LiveWindow();

    QString text(const QString &name) const { return controlText(m_window.get(), name); }
    // A counter label's value; 0 when it is not a whole number.
    long long number(const QString &name) const { return text(name).toLongLong(); }
    QStringList valueTexts() const;
    // The value box and the write button of a register row.
    QString valueBox(int row) const { return QStringLiteral("txtValue_%1").arg(row); }
    QString setButton(int row) const { return QStringLiteral("cmdSet_%1").arg(row - 3); }

    void type(const QString &box, const QString &text);
    void click(const QString &button);
    // Clicks and waits for the link event the window handles next.
    bool request(const QString &button);

    kc::MainWindow *window() const { return m_window.get(); }
    QString lamp() const { return m_window->frontLamp(); }

    kc::QtSerialLink *link = nullptr;
    MessageRecorder messages;

    // Link events by kind, counted after the window has handled each one.
    int receiveEvents = 0;
    int lineLostEvents = 0;
    int otherEvents = 0;
    int allEvents() const { return receiveEvents + lineLostEvents + otherEvents; }
    // Runs after the window has handled each link event, with its code.
    std::function<void(int code)> afterEvent;

private:
    std::unique_ptr<kc::MainWindow> m_window;
};
