#include "line/Diagnosis.h"

#include "line/LineEngine.h"
#include "operations/RegisterMap.h"
#include "protocol/Framing.h"

#include <QTimer>

namespace kc {

namespace {

constexpr int addressReadsAtPort = 2;
constexpr int readsAtPort = 8;
constexpr int addressReadsElsewhere = 1;
constexpr int readsElsewhere = 2;

} // namespace

LineDiagnosis::LineDiagnosis(LineEngine *engine, int station, bool allRates, QObject *parent)
    : QObject(parent), m_engine(engine)
{
    m_report.port = engine->port();
    m_report.station = station;
    m_report.baud = engine->baud();
    m_report.timeoutMs = engine->timeout();
    // The address reads first: a burst of noise at a round's end then falls
    // on the station's reads, where a run of them tells noise from a collision.
    const auto plan = [&](int baud, int addressReads, int reads) {
        for (int i = 0; i < addressReads; ++i)
            m_plan.push_back({baud, Request::addressRead()});
        for (int i = 0; i < reads; ++i)
            m_plan.push_back({baud, Request::registerRead(station, 0, registerCount)});
    };
    plan(m_report.baud, addressReadsAtPort, readsAtPort);
    if (allRates) {
        for (const int baud : moduleBauds()) {
            if (baud != m_report.baud)
                plan(baud, addressReadsElsewhere, readsElsewhere);
        }
    }
}

double LineDiagnosis::deadlineMs(int index) const
{
    const auto &[baud, request] = m_plan[index];
    return m_report.timeoutMs + wireMs(request.replyLength(), baud);
}

void LineDiagnosis::start()
{
    m_running = true;
    m_elapsed.start();
    m_savedRetries = m_engine->retries();
    m_savedEcho = m_engine->echoMode();
    m_engine->setRetries(0);
    // Off would judge an echo as a garbled reply; the diagnosis names it instead.
    if (m_savedEcho == EchoMode::Off)
        m_engine->setEchoMode(EchoMode::Auto);
    m_connections = {
        connect(m_engine, &LineEngine::finished, this, &LineDiagnosis::concluded),
        connect(m_engine, &LineEngine::received, this, &LineDiagnosis::heard),
        connect(m_engine, &LineEngine::sent, this, [this] { m_onLine = true; }),
        connect(m_engine, &LineEngine::echoed, this,
                [this] { m_report.probes.last().echoed = true; }),
    };
    next();
}

void LineDiagnosis::next()
{
    if (m_cancelled)
        return finish(ScanEnd::Cancelled);
    if (m_engine->lost())
        return finish(ScanEnd::PortLost);
    if (m_done == m_plan.size())
        return finish(ScanEnd::Done);
    double left = 0;
    for (int i = m_done; i < m_plan.size(); ++i)
        left += deadlineMs(i);
    emit progress(m_done, int(m_plan.size()), left);
    const auto &[baud, request] = m_plan[m_done];
    if (m_engine->baud() != baud && !m_engine->changeBaud(baud))
        return finish(ScanEnd::PortNotOpened);
    Probe probe;
    probe.baud = baud;
    probe.outcome.request = request;
    m_report.probes.push_back(probe);
    m_onLine = false;
    m_engine->submit(request);
}

void LineDiagnosis::heard(const QByteArray &bytes)
{
    // What comes before the probe in hand goes out is the previous one's tail.
    const qsizetype at = m_report.probes.size() - (m_onLine ? 1 : 2);
    if (at >= 0)
        m_report.probes[at].heard += bytes;
}

void LineDiagnosis::concluded(const Outcome &outcome)
{
    if (!m_running || m_done == m_plan.size() || outcome.request != m_plan[m_done].second)
        return;
    Probe &probe = m_report.probes.last();
    probe.outcome = outcome;
    m_deadlinesMs += deadlineMs(m_done++);
    const bool settled = outcome.answered() || outcome.kind == OutcomeKind::Refused ||
                         probe.heard.size() <= (probe.echoed ? outcome.request.frame().size() : 0);
    if (settled)
        return next();
    // Bytes that were no good reply may have more behind them (a reply after
    // stray bytes): they belong to this probe, not to the next.
    const double restMs =
        wireMs(outcome.request.replyLength(), probe.baud) + LineEngine::silenceMs(probe.baud);
    QTimer::singleShot(int(restMs) + 1, this, &LineDiagnosis::next);
}

void LineDiagnosis::finish(ScanEnd end)
{
    m_running = false;
    for (const auto &c : std::as_const(m_connections))
        disconnect(c);
    if (m_engine->baud() != m_report.baud && m_engine->isOpen())
        m_engine->changeBaud(m_report.baud);
    m_engine->setRetries(m_savedRetries);
    m_engine->setEchoMode(m_savedEcho);
    m_report.cancelled = end == ScanEnd::Cancelled;
    m_report.elapsedMs = double(m_elapsed.nsecsElapsed()) / 1e6;
    m_report.findings =
        classifyLine(m_report.station, m_report.baud, m_report.timeoutMs, m_report.probes);
    emit finished(end);
}

} // namespace kc
