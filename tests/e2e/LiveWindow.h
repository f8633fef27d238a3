#pragma once

#include "line/LineEngine.h"
#include "line/PortClaims.h"
#include "support/ControlText.h"
#include "support/MessageRecorder.h"
#include "support/Pty.h"
#include "ui/MainWindow.h"

#include <QString>

#include <memory>

// The real window on the real serial link, with COM1 mapped to device.
class LiveWindow
{
public:
    explicit LiveWindow(const QString &device);
    ~LiveWindow();

    QString text(const QString &name) const { return controlText(window.get(), name); }
    QString lamp() const { return window->frontLamp(); }
    // The fifteen value boxes, separated by blanks.
    QString values() const;
    void type(const QString &box, const QString &text);
    void click(const QString &button);
    // Clicks and waits for the request's outcome; false when none came.
    bool request(const QString &button);

    bool portOpen() const { return window->line() && window->line()->isOpen(); }

    kc::PortClaims claims;
    MessageRecorder messages;
    std::unique_ptr<kc::MainWindow> window;
};
