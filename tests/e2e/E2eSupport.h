#pragma once

#include "SimProcess.h"
#include "e2e/LiveWindow.h"

#include <QByteArray>

#include <cstdint>
#include <ostream>
#include <vector>

// Failures show texts as text.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

// Pumps the event loop until done() holds or the deadline passes; returns done().
// The deadline is only a guard against a hang: tests wait on counts and states.
bool pumpUntil(const std::function<bool()> &done, int deadlineMs = 10000);
// Pumps until a 10 ms timer fired n times: "a while" told in event-loop turns.
bool pumpTicks(int n);

// Resident set size of this process, from /proc/self/statm.
qint64 residentBytes();

// Appends the CRC-16/MODBUS, low byte first, computed bit by bit and sharing
// nothing with the tool or the simulator.
QByteArray withCrc(QByteArray body);
QByteArray readReply(int station, const std::vector<std::uint16_t> &words);
QByteArray writeFrame(int station, int address, std::uint16_t word);
// The trace boxes' texts: sent "01 03 ... ", received " 01 03 ...".
QString sentText(const QByteArray &frame);
QString receivedText(const QByteArray &bytes);

// The simulated module with fixed, distinctive values in every register.
namespace FixedModule {
// Register words 0..14, and their texts as the value boxes show them. Register 2,
// the alarm, is the module's own result: 23.45 degrees is above the 20.00 upper
// limit set here, so it reads 1.
inline const std::vector<std::uint16_t> words = {2345, 5678, 1, 65435, 250,  2000, 64535, 8800,
                                                 1200, 3,    4, 7,     9600, 2,    2};
inline const QStringList shown =
    QStringLiteral("23.45 56.78 1 -1.00 2.50 20.00 -10.00 88.00 12.00 3 4 7 9600 2 2")
        .split(QLatin1Char(' '));
// The arguments that give the module these values, without drift.
QStringList arguments();
} // namespace FixedModule

// Watches every link event the window handled: counts replies decoded as the
// fixed module's, and catches any moment a box shows a value it did not send.
struct DecodeWatch
{
    explicit DecodeWatch(LiveWindow &w);
    int decoded = 0;       // the trace starts with the module's reply, green lamp
    int exact = 0;         // ... and holds nothing else
    int rejected = 0;      // red lamp
    int foreignValues = 0; // boxes seen showing a value the module did not send
    // Runs after the counting, with the event's code.
    std::function<void(int code)> then;
};
