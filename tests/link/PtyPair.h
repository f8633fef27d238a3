#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <QTest>

#include <fcntl.h>
#include <functional>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

// Pumps the event loop until done() holds or the deadline passes; returns done().
inline bool pumpUntil(const std::function<bool()> &done, int deadlineMs = 5000)
{
    QDeadlineTimer deadline(deadlineMs);
    while (!done() && !deadline.hasExpired())
        QTest::qWait(2);
    return done();
}

// A pseudo-terminal pair standing in for a cable to a device: the link under test
// opens the slave by its path, the test plays the device on the master.
class PtyPair
{
public:
    PtyPair()
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
    ~PtyPair()
    {
        closeDevice();
        if (m_slave >= 0)
            ::close(m_slave);
    }
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    // The test's own descriptor on the slave, for termios and queue queries.
    int slaveFd() const { return m_slave; }

    // Writes everything, pumping the event loop while the pty is full; false at the deadline.
    bool writeFromDevice(const QByteArray &bytes)
    {
        qsizetype done = 0;
        return pumpUntil([&] {
            done +=
                qMax<ssize_t>(::write(m_master, bytes.constData() + done, bytes.size() - done), 0);
            return done == bytes.size();
        });
    }
    // Reads what the link sent until count bytes came or the deadline passed.
    QByteArray readOnDevice(int count)
    {
        QByteArray got;
        pumpUntil([&] {
            char chunk[256];
            got.append(chunk, qMax<ssize_t>(::read(m_master, chunk, sizeof chunk), 0));
            return got.size() >= count;
        });
        return got;
    }
    // The device goes away: the slave side sees a hang-up.
    void closeDevice()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
};
