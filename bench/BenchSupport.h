#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace kcbench {

// CLOCK_MONOTONIC, the clock the simulator's reply stamps use.
std::int64_t monotonicNs();

// User plus system time of this process so far.
double cpuSeconds();

// Resident set and heap in use, in bytes.
std::int64_t residentBytes();
std::int64_t heapBytes();

struct Spread
{
    double p50 = 0;
    double p99 = 0;
    double max = 0;
};
// Nearest-rank percentiles; all zero for no samples.
Spread spread(std::vector<double> samples);

// Pairs each event with the latest stamp at or before it, each stamp used once, and
// returns event - stamp in milliseconds. Events with no stamp within windowNs are
// left out: they answered a reply the bench did not see the stamp of.
std::vector<double> stampLatenciesMs(const std::vector<std::int64_t> &stamps,
                                     const std::vector<std::int64_t> &events,
                                     std::int64_t windowNs);

// kc4420-sim options that end each reply when a line at this baud rate would:
// paced bytes, the line's frame gap, and a wait for the request's own
// characters (a pseudo-terminal delivers them at once).
QStringList pacedLineArguments(int baud);

// "%.<decimals>f" as a QString, for the one-line results.
QString num(double value, int decimals);
void printLine(const QString &line);

} // namespace kcbench
