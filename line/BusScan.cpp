#include "line/BusScan.h"

#include "line/LineEngine.h"
#include "operations/ModuleReading.h"
#include "operations/Replies.h"
#include "protocol/Link.h"

#include <utility>

namespace kc {

BusScan::BusScan(LineEngine *engine, const ScanRange &range, QObject *parent)
    : QObject(parent), m_engine(engine), m_range(range)
{
}

void BusScan::start()
{
    m_running = true;
    // A network line's rate is set at the device server, not here: one pass
    // at the engine's rate finds whatever answers.
    if (!m_engine->link()->setsRate())
        m_range.bauds = {m_engine->baud()};
    m_savedTimeout = m_engine->timeout();
    m_savedRetries = m_engine->retries();
    // A probe is asked once: a station that does not answer is an empty one.
    m_engine->setTimeout(m_range.probeTimeoutMs);
    m_engine->setRetries(0);
    m_connection = connect(m_engine, &LineEngine::finished, this, [this](const Outcome &o) {
        if (m_then)
            std::exchange(m_then, {})(o);
    });
    report();
    quickPass(0);
}

void BusScan::ask(const Request &request, Then then, bool evenIfCancelled)
{
    if (m_cancelled && !evenIfCancelled)
        return finish(ScanEnd::Cancelled);
    if (m_engine->lost())
        return finish(ScanEnd::PortLost);
    m_then = std::move(then);
    m_engine->submit(request);
}

bool BusScan::atRate(int baud)
{
    if ((m_engine->baud() == baud && m_engine->isOpen()) || m_engine->changeBaud(baud))
        return true;
    finish(ScanEnd::PortNotOpened);
    return false;
}

void BusScan::quickPass(int index)
{
    if (index == m_range.bauds.size())
        return fullPass(0, 0);
    const int baud = m_range.bauds[index];
    if (!atRate(baud))
        return;
    ask(Request::addressRead(), [this, index, baud](const Outcome &o) {
        ++m_quickDone;
        ++m_probesDone;
        const auto next = [this, index] { quickPass(index + 1); };
        const bool settled = o.answered() && m_range.singleModule;
        if (settled)
            ++m_baudsDone;
        else
            // Nothing, a garble, or one module that may have drowned out others:
            // every station must be asked.
            m_fullBauds << baud;
        if (!o.answered()) {
            report();
            return next();
        }
        FoundModule m;
        m.station = o.station;
        m.baud = baud;
        m.outcome = o;
        m.quick = true;
        describe(m, next);
    });
}

void BusScan::fullPass(int index, int at)
{
    if (index == m_fullBauds.size())
        return finish(m_cancelled ? ScanEnd::Cancelled : ScanEnd::Done);
    if (at == m_range.stations.size()) {
        ++m_baudsDone;
        return fullPass(index + 1, 0);
    }
    m_fullIndex = index;
    m_stationsDone = at;
    const int baud = m_fullBauds[index];
    if (at == 0 && !atRate(baud))
        return;
    const int station = m_range.stations[at];
    ask(probeRequest(station), [this, index, at, station, baud](const Outcome &o) {
        ++m_probesDone;
        m_stationsDone = at + 1;
        const auto next = [this, index, at] { fullPass(index, at + 1); };
        // Nothing there, or the module the quick pass already listed.
        if (o.kind == OutcomeKind::NoReply || (o.answered() && listed(station, baud))) {
            report();
            return next();
        }
        FoundModule m;
        m.station = station;
        m.baud = baud;
        m.outcome = o;
        if (o.answered())
            return describe(m, next);
        record(m);
        next();
    });
}

bool BusScan::listed(int station, int baud) const
{
    for (const FoundModule &m : m_found) {
        if (m.station == station && m.baud == baud && m.answered())
            return true;
    }
    return false;
}

void BusScan::describe(FoundModule m, std::function<void()> then)
{
    ask(
        Request::registerRead(m.station, 0, 2),
        [this, m, then](const Outcome &o) mutable {
            if (const auto reading = readingOf(o)) {
                m.temperature = reading->temperature;
                m.humidity = reading->humidity;
            }
            ask(
                Request::deviceInfo(m.station),
                [this, m, then](const Outcome &info) mutable {
                    m.device = deviceTextOf(info).value_or(QString());
                    record(m);
                    then();
                },
                true);
        },
        true);
}

void BusScan::record(const FoundModule &module)
{
    // One that answers at several rates (as it does where the rate is not the
    // module's to keep, a converter in between, the simulator) is one module.
    for (int i = 0; i < m_found.size() && module.answered(); ++i) {
        FoundModule &known = m_found[i];
        if (!known.answered() || known.station != module.station ||
            known.device != module.device)
            continue;
        if (known.baud != module.baud && !known.otherBauds.contains(module.baud))
            known.otherBauds << module.baud;
        emit moduleUpdated(i, known);
        report();
        return;
    }
    m_found.push_back(module);
    emit moduleFound(module);
    report();
}

void BusScan::report()
{
    ScanProgress p;
    p.baudsTotal = int(m_range.bauds.size());
    p.baudsDone = m_baudsDone;
    p.stationsTotal = int(m_range.stations.size());
    p.stationsDone = m_stationsDone;
    p.probesDone = m_probesDone;
    const int stations = p.stationsTotal;
    const auto add = [&](int baud, int probes) {
        p.probesLeft += probes;
        p.msLeft += probes * probeDeadlineMs(baud, m_range.probeTimeoutMs);
    };
    // A rate the quick pass has not settled may still need every station.
    for (int i = m_quickDone; i < m_range.bauds.size(); ++i)
        add(m_range.bauds[i], 1 + stations);
    for (int i = m_fullIndex; i < m_fullBauds.size(); ++i)
        add(m_fullBauds[i], stations - (i == m_fullIndex ? m_stationsDone : 0));
    emit progress(p);
}

void BusScan::finish(ScanEnd end)
{
    m_running = false;
    m_then = {};
    disconnect(m_connection);
    m_engine->setTimeout(m_savedTimeout);
    m_engine->setRetries(m_savedRetries);
    emit finished(end);
}

} // namespace kc
