#include "line/PreciseWake.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cmath>

#ifdef Q_OS_LINUX
#include <sys/timerfd.h>
#include <unistd.h>
#endif

namespace kc {

PreciseWake::PreciseWake(QObject *parent) : QObject(parent)
{
#ifdef Q_OS_LINUX
    m_fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd >= 0) {
        m_notifier = new QSocketNotifier(qintptr(m_fd), QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] {
            quint64 expirations = 0;
            [[maybe_unused]] const auto n = ::read(m_fd, &expirations, sizeof expirations);
            fire();
        });
        return;
    }
#endif
    m_fallback = new QTimer(this);
    m_fallback->setSingleShot(true);
    m_fallback->setTimerType(Qt::PreciseTimer);
    connect(m_fallback, &QTimer::timeout, this, &PreciseWake::fire);
}

PreciseWake::~PreciseWake()
{
#ifdef Q_OS_LINUX
    if (m_fd >= 0)
        ::close(m_fd);
#endif
}

void PreciseWake::start(double ms)
{
    m_active = true;
    ms = std::max(ms, 0.0);
#ifdef Q_OS_LINUX
    if (m_fd >= 0) {
        // A zero it_value disarms the timer: wake at least a microsecond on.
        const auto ns = std::max<long long>(1000, (long long)(ms * 1e6));
        itimerspec due{};
        due.it_value.tv_sec = time_t(ns / 1000000000LL);
        due.it_value.tv_nsec = long(ns % 1000000000LL);
        ::timerfd_settime(m_fd, 0, &due, nullptr);
        return;
    }
#endif
    m_fallback->start(int(std::ceil(ms)));
}

void PreciseWake::stop()
{
    m_active = false;
#ifdef Q_OS_LINUX
    if (m_fd >= 0) {
        const itimerspec off{};
        ::timerfd_settime(m_fd, 0, &off, nullptr);
        return;
    }
#endif
    m_fallback->stop();
}

void PreciseWake::fire()
{
    if (!m_active)
        return;
    m_active = false;
    emit timeout();
}

} // namespace kc
