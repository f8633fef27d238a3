#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// A pseudo-terminal pair standing in for a cable to a device: the link under test
// opens the slave by its path, the test plays the device on the master.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    // The test's own descriptor on the slave, for termios and queue queries.
    int slaveFd() const { return m_slave; }

    // Writes everything, pumping the event loop while the pty is full.
    bool writeFromDevice(const QByteArray &bytes);
    // Reads what the link sent until count bytes came or the deadline passed.
    QByteArray readOnDevice(int count, int deadlineMs = 5000);
    // Bytes the link sent that are waiting on the master, without reading them.
    int pendingOnDevice() const;
    // The device goes away: the slave side sees a hang-up.
    void closeDevice();

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
};

// Pumps the event loop until done() holds or the deadline passes; returns done().
bool pumpUntil(const std::function<bool()> &done, int deadlineMs = 5000);
// Pumps the event loop for a while, for checks that something did NOT happen.
void pumpFor(int ms);
