#pragma once

#include <QObject>

class QSocketNotifier;
class QTimer;

namespace kc {

// A single-shot wake-up finer than Qt's millisecond timers: the line's silence
// after a reply is 1.75 ms at the fast rates, and a timer rounded up to whole
// milliseconds adds a third of that to every poll. On Linux a timerfd wakes the
// event loop to the microsecond; elsewhere a precise QTimer rounds up.
class PreciseWake : public QObject
{
    Q_OBJECT
public:
    explicit PreciseWake(QObject *parent = nullptr);
    ~PreciseWake() override;

    void start(double ms);
    void stop();
    bool isActive() const { return m_active; }

signals:
    void timeout();

private:
    void fire();

    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_fallback = nullptr;
    bool m_active = false;
};

} // namespace kc
