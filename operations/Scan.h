#pragma once

#include "operations/Messages.h"
#include "operations/Outcomes.h"
#include "operations/RegisterMap.h"
#include "operations/Requests.h"

#include <QList>
#include <QString>
#include <QVector>

#include <optional>
#include <variant>

namespace kc {

inline constexpr int maxScanStation = 247;

// What a bus scan covers.
struct ScanRange
{
    QList<int> bauds = moduleBauds(); // ascending, each once
    QVector<int> stations;            // in the order probed
    int probeTimeoutMs = 100;
    // The operator says the line holds one module: a clean answer to the
    // station-250 read settles its rate.
    bool singleModule = false;
};

struct ScanProgress
{
    int baudsDone = 0;
    int baudsTotal = 0;
    int stationsDone = 0; // at the rate being scanned
    int stationsTotal = 0;
    int probesDone = 0;
    int probesLeft = 0; // at most
    double msLeft = 0;  // at most: every probe left running to its deadline
};

// "波特率 2/5  站号 120/247  剩余约 1分30秒"
QString scanProgressText(const ScanProgress &progress);

// How a scan ended.
enum class ScanEnd { Done, Cancelled, PortLost, PortNotOpened };

// Why a run over the line (a scan, a diagnosis) ended for want of its port,
// with the link's own reason when it has one; nothing when it did not.
QString portFailureText(ScanEnd end, const QString &port, const QString &device,
                        OpenFailure failure);

// "2400,9600", "1-247" (any station list: "1-40,200"), "100": the range, or the
// message that refuses it before anything is sent.
std::variant<ScanRange, UserMessage> planScan(const QString &bauds, const QString &stations,
                                              const QString &probeTimeoutMs);

// The probe: a read of register 0, one register.
Request probeRequest(int station);

// The longest a probe nobody answers can take: its timeout and the reply's time
// on the wire.
double probeDeadlineMs(int baud, int timeoutMs);

// Something that answered a probe. Only an answered module has its device text
// and readings; the others are listed for what came back.
struct FoundModule
{
    int station = 0;
    int baud = 0;                   // the rate it was found at first
    QList<int> otherBauds;          // further rates the same module answered at
    Outcome outcome;                // of the probe, or of the station-250 read that found it
    QString device;                 // empty when not given
    std::optional<int> temperature; // hundredths
    std::optional<int> humidity;
    bool quick = false; // found by the station-250 read, alone at its rate
    bool answered() const { return outcome.answered(); }
};

// "正常", or what came back instead.
QString foundStatusText(const FoundModule &module);

// A found module as the scan's table and its CSV show it: station, rates,
// device, temperature, humidity, response time, status.
QStringList foundModuleFields(const FoundModule &module);

// The table of modules found as CSV, with a header.
QString scanCsv(const QVector<FoundModule> &modules);

} // namespace kc
