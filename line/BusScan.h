#pragma once

#include "operations/Scan.h"

#include <QObject>
#include <QVector>

#include <functional>

namespace kc {

class LineEngine;

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

// Finds the modules on a line. First a quick pass, the station-250 read at
// each rate: a clean answer is a module alone at that rate, found at once.
// Then the full pass, a probe at each station, at the rates where the quick
// pass heard nothing or a garble (several modules answering at once). Each
// module answering is then asked for its readings and device text.
class BusScan : public QObject
{
    Q_OBJECT
public:
    // The engine must outlive the scan; its timeout and retries are the
    // scan's until it ends.
    BusScan(LineEngine *engine, const ScanRange &range, QObject *parent = nullptr);

    void start();
    // Stops once the probe in hand has its outcome.
    void cancel() { m_cancelled = true; }
    bool running() const { return m_running; }
    const QVector<FoundModule> &found() const { return m_found; }

signals:
    void progress(const kc::ScanProgress &progress);
    void moduleFound(const kc::FoundModule &module);
    // error: empty, or why the scan could not go on (the port).
    void finished(bool cancelled, const QString &error);

private:
    using Then = std::function<void(const Outcome &)>;
    // Sends plan and hands its outcome to then, unless the scan was cancelled
    // (a module's description is finished all the same).
    void ask(const RequestPlan &plan, Then then, bool evenIfCancelled = false);
    bool atRate(int baud);
    void quickPass(int index);
    void fullPass(int index, int station);
    void describe(FoundModule module, std::function<void()> then);
    void record(const FoundModule &module);
    void report();
    void finish(const QString &error);

    LineEngine *m_engine;
    ScanRange m_range;
    QVector<FoundModule> m_found;
    QList<int> m_fullBauds; // the rates the full pass covers
    int m_quickDone = 0;    // quick probes with their outcome
    int m_fullIndex = 0;    // into m_fullBauds: the full pass under way
    int m_baudsDone = 0;
    int m_stationsDone = 0;
    int m_probesDone = 0;
    int m_savedTimeout = 0;
    int m_savedRetries = 0;
    bool m_running = false;
    bool m_cancelled = false;
    Then m_then;
    QMetaObject::Connection m_connection;
};

} // namespace kc
