#pragma once

#include "operations/Diagnosis.h"
#include "operations/Requests.h"
#include "operations/Scan.h"
#include "protocol/AdapterEcho.h"

#include <QElapsedTimer>
#include <QObject>
#include <QVector>

#include <utility>

namespace kc {

class LineEngine;

// The line diagnosis: a short battery of requests against one module, each
// probe's bytes kept as they came, then classified (classifyLine). At the
// port's rate two station-250 reads and eight reads of the fifteen registers;
// with allRates, at every other rate a module can have one station-250 read
// and two reads; the port is then set back to its rate. Every probe shows
// whether the adapter echoes, as the engine recognises it.
class LineDiagnosis : public QObject
{
    Q_OBJECT
public:
    // The engine, open at the port's rate, must outlive the diagnosis; its
    // timeout is the probes'. Its retries (none) and echo mode (recognised
    // when it comes, unless expected) are the diagnosis's until it ends.
    LineDiagnosis(LineEngine *engine, int station, bool allRates, QObject *parent = nullptr);

    void start();
    // Stops once the probe in hand has its outcome.
    void cancel() { m_cancelled = true; }
    bool running() const { return m_running; }
    const DiagnosisReport &report() const { return m_report; }
    int probesPlanned() const { return int(m_plan.size()); }
    // The deadlines of the probes sent, added up: what the run would take
    // if nothing answered.
    double deadlinesMs() const { return m_deadlinesMs; }

signals:
    void progress(int done, int total, double msLeft);
    void finished(kc::ScanEnd end);

private:
    void next();
    void concluded(const Outcome &outcome);
    void heard(const QByteArray &bytes);
    void finish(ScanEnd end);
    double deadlineMs(int index) const;

    LineEngine *m_engine;
    QVector<std::pair<int, Request>> m_plan; // rate and request of each probe
    DiagnosisReport m_report;
    QElapsedTimer m_elapsed;
    double m_deadlinesMs = 0;
    int m_done = 0;
    int m_savedRetries = 0;
    EchoMode m_savedEcho = EchoMode::Auto;
    bool m_running = false;
    bool m_cancelled = false;
    bool m_onLine = false; // the probe in hand has gone out
    QVector<QMetaObject::Connection> m_connections;
};

} // namespace kc
