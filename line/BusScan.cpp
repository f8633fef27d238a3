#include "line/BusScan.h"

#include "line/LineEngine.h"
#include "operations/Replies.h"
#include "protocol/SerialLink.h"

#include <cmath>
#include <utility>

namespace kc {

QString scanProgressText(const ScanProgress &p)
{
    const int seconds = int(std::ceil(p.msLeft / 1000));
    return QStringLiteral("波特率 %1/%2  站号 %3/%4  剩余约 %5分%6秒")
        .arg(p.baudsDone)
        .arg(p.baudsTotal)
        .arg(p.stationsDone)
        .arg(p.stationsTotal)
        .arg(seconds / 60)
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

BusScan::BusScan(LineEngine *engine, const ScanRange &range, QObject *parent)
    : QObject(parent), m_engine(engine), m_range(range)
{
}

void BusScan::start()
{
    m_running = true;
    m_savedTimeout = m_engine->timeout();
    m_savedRetries = m_engine->retries();
    // A probe is asked once: a station that does not answer is an empty one.
    m_engine->setTimeout(m_range.probeTimeoutMs);
    m_engine->setRetries(0);
    m_connection = connect(m_engine, &LineEngine::finished, this,
                           [this](const Outcome &o, const RequestPlan &) {
                               if (m_then)
                                   std::exchange(m_then, {})(o);
                           });
    report();
    quickPass(0);
}

void BusScan::ask(const RequestPlan &plan, Then then, bool evenIfCancelled)
{
    if (m_cancelled && !evenIfCancelled)
        return finish({});
    if (m_engine->lost())
        return finish(msg::portLost);
    m_then = std::move(then);
    m_engine->submit(plan);
}

bool BusScan::atRate(int baud)
{
    if ((m_engine->baud() == baud && m_engine->link()->isOpen()) || m_engine->changeBaud(baud))
        return true;
    finish(msg::portBusy);
    return false;
}

void BusScan::quickPass(int index)
{
    if (index == m_range.bauds.size())
        return fullPass(0, m_range.first);
    const int baud = m_range.bauds[index];
    if (!atRate(baud))
        return;
    ask(planAddressRead(), [this, index, baud](const Outcome &o) {
        ++m_quickDone;
        ++m_probesDone;
        if (o.kind == OutcomeKind::Answered) {
            ++m_baudsDone;
            FoundModule m;
            m.station = o.station;
            m.baud = baud;
            m.responseMs = o.responseMs;
            m.quick = true;
            return describe(m, [this, index] { quickPass(index + 1); });
        }
        // Nothing, or several answering at once: every station must be asked.
        m_fullBauds << baud;
        report();
        quickPass(index + 1);
    });
}

void BusScan::fullPass(int index, int station)
{
    if (index == m_fullBauds.size())
        return finish({});
    if (station > m_range.last) {
        ++m_baudsDone;
        return fullPass(index + 1, m_range.first);
    }
    m_fullIndex = index;
    m_stationsDone = station - m_range.first;
    const int baud = m_fullBauds[index];
    if (station == m_range.first && !atRate(baud))
        return;
    ask(planProbe(station), [this, index, station, baud](const Outcome &o) {
        ++m_probesDone;
        m_stationsDone = station - m_range.first + 1;
        const auto next = [this, index, station] { fullPass(index, station + 1); };
        if (o.kind == OutcomeKind::NoReply) {
            report();
            return next();
        }
        FoundModule m;
        m.station = station;
        m.baud = baud;
        m.kind = o.kind;
        m.responseMs = o.responseMs;
        if (o.kind == OutcomeKind::Answered)
            return describe(m, next);
        m.status = outcomeText(o);
        record(m);
        next();
    });
}

void BusScan::describe(FoundModule m, std::function<void()> then)
{
    const RequestPlan readings =
        std::get<RequestPlan>(planRegisterRead({QString::number(m.station), QStringLiteral("3"),
                                                QStringLiteral("0"), QStringLiteral("2")}));
    ask(
        readings,
        [this, m, then](const Outcome &o) mutable {
            if (o.kind == OutcomeKind::Answered) {
                const Delivery d = decodeDelivery(RequestKind::RegisterRead, o.frame, 0);
                m.temperature = d.values.value(0).text;
                m.humidity = d.values.value(1).text;
            }
            ask(
                std::get<RequestPlan>(planDeviceInfo(QString::number(m.station))),
                [this, m, then](const Outcome &info) mutable {
                    if (info.kind == OutcomeKind::Answered)
                        m.device = deviceInfoText(info.frame);
                    m.status = QStringLiteral("正常");
                    record(m);
                    then();
                },
                true);
        },
        true);
}

void BusScan::record(const FoundModule &module)
{
    m_found.push_back(module);
    emit moduleFound(module);
    report();
}

void BusScan::report()
{
    ScanProgress p;
    p.baudsTotal = int(m_range.bauds.size());
    p.baudsDone = m_baudsDone;
    p.stationsTotal = m_range.stations();
    p.stationsDone = m_stationsDone;
    p.probesDone = m_probesDone;
    const int stations = m_range.stations();
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

void BusScan::finish(const QString &error)
{
    m_running = false;
    m_then = {};
    disconnect(m_connection);
    m_engine->setTimeout(m_savedTimeout);
    m_engine->setRetries(m_savedRetries);
    emit finished(m_cancelled, error);
}

} // namespace kc
