#pragma once

#include "operations/Outcomes.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>

namespace kc {

// One request of the line diagnosis and what came of it.
struct Probe
{
    int baud = 0;
    Outcome outcome;     // as the engine judged it, its request inside
    QByteArray heard;    // every byte received from its sending to the next one's
    bool echoed = false; // the adapter returned the request; heard still starts with it

    // What heard holds once the echo is taken off.
    QByteArray reply() const;
};

// What a diagnosis can find, from the harmless to the worst.
enum class FindingKind : std::uint8_t {
    Clean,          // every read answered, nothing else to say
    Echo,           // the adapter returns each request
    StrayBytes,     // bytes before the replies: no bias on the line
    CutOrLate,      // replies cut short, slow, or after the deadline
    ChecksumBursts, // checksum errors among good replies: noise, termination, earth
    OneRate,        // answers at one rate only: the module's
    Collisions,     // two modules at one address, or on the station-250 read
    Silence,        // nothing from the station at any rate tried
};

struct Finding
{
    FindingKind kind = FindingKind::Clean;
    // A fact, not a fault: the module's one rate is the port's rate.
    bool note = false;
    int count = 0;             // probes that showed it
    int of = 0;                // probes that could have
    QList<int> bauds = {};     // where it was seen, ascending
    QStringList examples = {}; // the first few, in hex
    // Per kind: stray bytes before the first reply; the module's rate; the
    // longest run of checksum errors; the station two modules share (-1: the
    // station-250 read collides); the address that answered the station-250
    // read while the station was silent (-1: none).
    int value = -1;
    double slowestMs = -1; // cut or late: the slowest answer that came in time
};

// What the probes show, worst first: "clean" when nothing is wrong. A pure
// function of what was observed; station and timeout are those the probes
// were sent with, portBaud the rate the operator's port is set to.
QVector<Finding> classifyLine(int station, int portBaud, int timeoutMs,
                              const QVector<Probe> &probes);

// 0 for clean and notes, growing with how badly the line is off; the CLI's
// exit status follows it.
int findingRank(const Finding &finding);

// "clean", "echo", "stray_bytes", "cut_or_late", "checksum_bursts", "one_rate",
// "collisions", "silence": the finding's key in JSON.
QString findingKey(FindingKind kind);
// In the operator's words: a title, the evidence, what to do.
QString findingTitle(const Finding &finding);
QString findingEvidence(const Finding &finding, int timeoutMs);
QString findingAdvice(const Finding &finding, int station, int portBaud);

// Reads, answers and response times at one rate.
struct RateSummary
{
    int baud = 0;
    int reads = 0, answered = 0;               // of the station's registers
    int addressReads = 0, addressAnswered = 0; // the station-250 read
    ResponseTimes times;                       // of the answered reads
};
QVector<RateSummary> rateSummaries(int station, const QVector<Probe> &probes);

// A diagnosis run, for the window, the CLI and the saved report.
struct DiagnosisReport
{
    QString port;
    int station = 1;
    int baud = 9600; // the port's
    int timeoutMs = 0;
    bool cancelled = false;
    double elapsedMs = 0;
    QVector<Probe> probes;
    QVector<Finding> findings;
};

// The whole report as text: a head line, each rate's reads and times, each
// finding with its evidence and what to do.
QString diagnosisReportText(const DiagnosisReport &report);

// "探测 3/10  剩余约 0分02秒"
QString diagnosisProgressText(int done, int total, double msLeft);

} // namespace kc
