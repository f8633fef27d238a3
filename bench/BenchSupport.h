#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

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

// "%.<decimals>f" as a QString, for the one-line results.
QString num(double value, int decimals);
void printLine(const QString &line);

// The simulated module with its control channel on, its output kept in a file so
// that nothing in the measured process wakes up to read it.
class SimRun
{
public:
    struct Stats
    {
        long long requests = -1;
        long long replies = -1;
        long long ignored = -1;
        long long uploads = -1;
    };

    explicit SimRun(const QStringList &arguments);
    ~SimRun();
    SimRun(const SimRun &) = delete;
    SimRun &operator=(const SimRun &) = delete;

    static QString program();

    bool ready() const { return !m_pty.isEmpty(); }
    QString pty() const { return m_pty; }

    Stats stats();
    // The fifteen register words as the module holds them.
    std::vector<std::uint16_t> registers();
    std::vector<std::int64_t> sentStamps() const;
    void quit();

private:
    QStringList outputLines() const;
    // Sends a command and waits for the first new line that starts with prefix.
    QString ask(const QString &command, const QString &prefix);

    QTemporaryDir m_dir;
    QString m_outputPath;
    QProcess m_process;
    QString m_pty;
};

} // namespace kcbench
