#pragma once

#include "protocol/QtSerialLink.h"
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
    LiveWindow(const LiveWindow &) = delete;
    LiveWindow &operator=(const LiveWindow &) = delete;

    template <typename T> T *find(const QString &name) const
    {
        return m_window->findChild<T *>(name);
    }
    QString text(const QString &name) const;
    // A counter label's value; -1 when it is not a whole number.
    long long number(const QString &name) const;
    QStringList valueTexts() const;

    void type(const QString &box, const QString &text);
    void click(const QString &button);

    kc::MainWindow *window() const { return m_window.get(); }
    const kc::WindowState &state() const { return m_window->state(); }
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
