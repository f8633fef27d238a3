#pragma once

#include "sim/SimProcess.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include <termios.h>

// Pumps the event loop until done() holds or the deadline passes; returns done().
// The deadline is only a guard against a hang: tests wait on counts and states.
bool pumpUntil(const std::function<bool()> &done, int deadlineMs = 10000);

// A timer firing every intervalMs that counts its firings and records how late
// each came, as a measure of how responsive the event loop is.
class Probe : public QObject
{
public:
    explicit Probe(int intervalMs = 10);

    int fired() const { return m_fired; }
    qint64 maxLatenessMs() const { return m_maxLateness; }
    // Lateness not exceeded by the given fraction of the firings (0.99: p99).
    qint64 latenessPercentileMs(double fraction) const;
    void reset();
    // Pumps until the probe fired n more times: "a while" told in event-loop turns.
    bool pumpFirings(int n, int deadlineMs = 30000);

    // Runs at each firing, after it was counted.
    std::function<void()> onFired;

private:
    void onTimeout();

    QTimer m_timer;
    QElapsedTimer m_clock;
    int m_interval;
    int m_fired = 0;
    qint64 m_last = -1;
    qint64 m_maxLateness = 0;
    std::vector<qint64> m_lateness;
};

// Resident set size of this process, from /proc/self/statm.
qint64 residentBytes();

// CRC-16/MODBUS computed bit by bit, sharing nothing with the tool or the simulator.
std::uint16_t modbusCrc(const QByteArray &bytes);
// Appends the CRC, low byte first.
QByteArray withCrc(QByteArray body);
// A register-read reply carrying words.
QByteArray readReply(int station, const std::vector<std::uint16_t> &words);
// The received-data box's text for bytes: " 01 03 ..." in upper-case hex.
QString receivedText(const QByteArray &bytes);
// The sent-data box's text for a frame: "01 03 ... ".
QString sentText(const QByteArray &frame);

// The simulated module with fixed, distinctive values in every register.
namespace FixedModule {
struct Row
{
    std::uint16_t word;
    const char *shown; // as the value box shows it
};
// Register words 0..14 and their texts; register 2 (the alarm) is the module's
// own result of the readings and limits set here.
const std::vector<Row> &rows();
std::vector<std::uint16_t> words();
// The arguments that give the module these values, without drift.
QStringList arguments();
// True when every value box text is its row's text or the initial "0".
bool onlySentValues(const QStringList &boxes);
} // namespace FixedModule

// The simulator's stored words, from its "regs" command; empty when it did not answer.
std::vector<std::uint16_t> simRegisters(SimProcess &sim);
// Waits for the line announcing a new pseudo-terminal after "restore".
QString nextPtyLine(SimProcess &sim);

// The line settings of the descriptor this process holds on device (found
// through /proc/self/fd), or nothing when no descriptor points there.
std::optional<termios> heldLineSettings(const QString &device);
