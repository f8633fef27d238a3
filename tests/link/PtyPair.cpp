#include "link/PtyPair.h"

#include <QDeadlineTimer>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    termios raw{};
    ::tcgetattr(m_master, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(m_master, TCSANOW, &raw);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair()
{
    closeDevice();
    if (m_slave >= 0)
        ::close(m_slave);
}

bool PtyPair::writeFromDevice(const QByteArray &bytes)
{
    qsizetype done = 0;
    QDeadlineTimer deadline(10000);
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (deadline.hasExpired())
            return false;
        QTest::qWait(1);
    }
    return true;
}

QByteArray PtyPair::readOnDevice(int count, int deadlineMs)
{
    QByteArray got;
    QDeadlineTimer deadline(deadlineMs);
    while (got.size() < count && !deadline.hasExpired()) {
        char chunk[256];
        const ssize_t n = ::read(m_master, chunk, sizeof chunk);
        if (n > 0)
            got.append(chunk, n);
        else
            QTest::qWait(2);
    }
    return got;
}

int PtyPair::pendingOnDevice() const
{
    int n = 0;
    if (::ioctl(m_master, FIONREAD, &n) != 0)
        return -1;
    return n;
}

void PtyPair::closeDevice()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

bool pumpUntil(const std::function<bool()> &done, int deadlineMs)
{
    QDeadlineTimer deadline(deadlineMs);
    while (!done() && !deadline.hasExpired())
        QTest::qWait(2);
    return done();
}

void pumpFor(int ms)
{
    QTest::qWait(ms);
}
