#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QString>
#include <QTimer>

#include <fcntl.h>
#include <functional>
#include <pty.h>
#include <unistd.h>

// Pumps the event loop until done() holds; false once the deadline passed. The
// deadline guards against a hang and is never a measure.
inline bool pumpUntil(const std::function<bool()> &done, int deadlineMs = 10000)
{
    QDeadlineTimer deadline(deadlineMs);
    // Wakes the loop when nothing else happens, so done() is looked at often.
    QTimer wake;
    wake.start(5);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Lets the event loop run for a while, so whatever is on its way arrives.
inline void pumpFor(int ms)
{
    pumpUntil([] { return false; }, ms);
}

// A pseudo-terminal standing in for a cable: the code under test opens path,
// the test plays the device on the far end.
struct Pty
{
    Pty()
    {
        char name[256] = {};
        if (::openpty(&far, &near, name, nullptr, nullptr) != 0)
            return;
        path = QString::fromLocal8Bit(name);
        // A full line makes the device's writes come up short, never hang the test.
        ::fcntl(far, F_SETFL, O_NONBLOCK);
    }
    ~Pty()
    {
        unplug();
        ::close(near);
    }
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    // The device goes away: the near end sees a hang-up.
    void unplug()
    {
        if (far >= 0)
            ::close(far);
        far = -1;
    }

    int far = -1;
    int near = -1; // held here too, for the line's settings
    QString path;
};
