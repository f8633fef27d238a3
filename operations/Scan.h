#pragma once

#include "operations/Messages.h"
#include "operations/Outcomes.h"
#include "operations/Requests.h"

#include <QList>
#include <QString>
#include <QVector>

#include <variant>

namespace kc {

inline constexpr int maxScanStation = 247;

// The rates a module can be set to, ascending.
const QList<int> &moduleBauds();

// What a bus scan covers.
struct ScanRange
{
    QList<int> bauds = moduleBauds(); // ascending, each once
    int first = 1;
    int last = maxScanStation;
    int probeTimeoutMs = 100;
    int stations() const { return last - first + 1; }
};

// "2400,9600", "1-247" (or one station), "100": the range, or the message that
// refuses it before anything is sent.
std::variant<ScanRange, UserMessage> planScan(const QString &bauds, const QString &stations,
                                              const QString &probeTimeoutMs);

// The probe: a read of register 0, one register.
RequestPlan planProbe(int station);

// The longest a probe nobody answers can take: its timeout and the reply's time
// on the wire.
double probeDeadlineMs(int baud, int timeoutMs);

// Something that answered a probe. Only an answered module has its device text
// and readings; the others are listed for what came back.
struct FoundModule
{
    int station = 0;
    int baud = 0;
    OutcomeKind kind = OutcomeKind::Answered;
    double responseMs = -1;
    QString device;
    QString temperature;
    QString humidity;
    QString status;     // "正常", or what came back instead
    bool quick = false; // found by the station-250 read, alone at its rate
};

// The table of modules found as CSV, with a header.
QString scanCsv(const QVector<FoundModule> &modules);

} // namespace kc
