#pragma once

#include "operations/Scan.h"

#include <QObject>
#include <QVector>

#include <functional>

namespace kc {

class LineEngine;

// Finds the modules on a line. First a quick pass, the station-250 read at
// each rate: a clean answer is listed at once. Then the full pass, a probe at
// each station, at every rate the quick pass heard anything or nothing at:
// two modules answering at once do not always garble each other, the stronger
// driver can win cleanly and hide the other. Only when the operator says the
// line holds one module does a clean quick answer settle its rate. Each module
// answering is then asked for its readings and device text. On a line whose
// rate is not the link's to set (a network line) the range's rates give way
// to the engine's one rate: the quick pass and the full pass once.
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
    // A module found before answered at another rate too: found()[index] now lists it.
    void moduleUpdated(int index, const kc::FoundModule &module);
    void finished(kc::ScanEnd end);

private:
    using Then = std::function<void(const Outcome &)>;
    // Sends plan and hands its outcome to then, unless the scan was cancelled
    // (a module's description is finished all the same).
    void ask(const Request &request, Then then, bool evenIfCancelled = false);
    bool atRate(int baud);
    void quickPass(int index);
    void fullPass(int index, int at);
    void describe(FoundModule module, std::function<void()> then);
    void record(const FoundModule &module);
    bool listed(int station, int baud) const;
    void report();
    void finish(ScanEnd end);

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
