#include "line/Monitor.h"

#include "line/LineEngine.h"
#include "line/Recorder.h"
#include "operations/NumberText.h"
#include "operations/RegisterMap.h"
#include "protocol/Framing.h"
#include "protocol/PortNaming.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kc {

namespace {

// "com3 " and "COM3" are one port, and so are the spellings of one network address.
} // namespace

std::optional<QVector<int>> parseStations(const QString &text)
{
    return numberList(text, 1, 250);
}

Monitor::Monitor(PortClaims *claims, QObject *parent)
    : QObject(parent), m_claims(claims), m_msClock(LineEngine::monotonicClock()),
      m_wallClock([] { return QDateTime::currentDateTime(); })
{
}

void Monitor::setClocks(std::function<double()> ms, std::function<QDateTime()> wall)
{
    m_msClock = std::move(ms);
    m_wallClock = std::move(wall);
}

void Monitor::setCyclePeriod(const QString &port, int ms)
{
    m_portCycleMs[portKey(port)] = ms;
}

Monitor::~Monitor()
{
    stop();
}

std::optional<UserMessage> Monitor::add(const QString &portGiven, const QString &stationText,
                                        int baud)
{
    const QString port = portKey(portGiven);
    if (port.isEmpty())
        return UserMessage{msg::noPort};
    if (looksLikeNetworkAddress(port) && !networkAddress(port))
        return UserMessage{msg::badNetworkPort};
    const auto stations = parseStations(stationText);
    if (!stations)
        return UserMessage{msg::badStationList};
    if (m_baud.contains(port) && m_baud[port] != baud)
        return UserMessage{msg::baudPerPort};
    for (const auto &m : m_modules) {
        if (m->port == port && stations->contains(m->station))
            return UserMessage{msg::moduleListed};
    }
    for (const int station : *stations) {
        auto m = std::make_unique<WatchedModule>();
        m->port = port;
        m->station = station;
        m->baud = baud;
        m_modules.push_back(std::move(m));
    }
    m_baud[port] = baud;
    renumber();
    emit listChanged();
    return std::nullopt;
}

void Monitor::remove(int row)
{
    if (row < 0 || row >= rowCount())
        return;
    const QString port = m_modules[std::size_t(row)]->port;
    m_modules.erase(m_modules.begin() + row);
    const bool portLeft = std::any_of(m_modules.begin(), m_modules.end(),
                                      [&](const auto &m) { return m->port == port; });
    if (!portLeft)
        m_baud.remove(port);
    renumber();
    emit listChanged();
}

void Monitor::clear()
{
    m_modules.clear();
    m_baud.clear();
    emit listChanged();
}

void Monitor::renumber()
{
    for (std::size_t i = 0; i < m_modules.size(); ++i)
        m_modules[i]->row = int(i);
}

QByteArray Monitor::listJson() const
{
    QJsonArray ports;
    QStringList order;
    for (const auto &m : m_modules) {
        if (!order.contains(m->port))
            order << m->port;
    }
    for (const QString &port : order) {
        QJsonArray stations;
        for (const auto &m : m_modules) {
            if (m->port == port)
                stations.append(m->station);
        }
        ports.append(QJsonObject{
            {QStringLiteral("port"), port},
            {QStringLiteral("baud"), baudOf(port)},
            {QStringLiteral("stations"), stations},
        });
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("ports"), ports}})
        .toJson(QJsonDocument::Indented);
}

std::optional<UserMessage> Monitor::loadList(const QByteArray &json)
{
    const UserMessage refusal{msg::badModuleList};
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError ||
        !doc.object().value(QLatin1String("ports")).isArray())
        return refusal;
    Monitor loaded(nullptr);
    for (const QJsonValue &p : doc.object().value(QLatin1String("ports")).toArray()) {
        const QJsonObject o = p.toObject();
        const int baud = o.value(QLatin1String("baud")).toInt();
        QStringList stations;
        for (const QJsonValue &s : o.value(QLatin1String("stations")).toArray())
            stations << QString::number(s.toInt(-1));
        if (!moduleBauds().contains(baud) || stations.isEmpty() ||
            loaded.add(o.value(QLatin1String("port")).toString(), stations.join(QLatin1Char(',')),
                       baud))
            return refusal;
    }
    m_modules = std::move(loaded.m_modules);
    m_baud = loaded.m_baud;
    emit listChanged();
    return std::nullopt;
}

void Monitor::start()
{
    if (m_running || m_modules.empty())
        return;
    m_running = true;
    m_startedMs = m_msClock();
    m_polls = 0;
    m_heldBy.clear();
    for (const auto &m : m_modules) {
        m->dead = false;
        m->silentInRow = 0;
        m->line = LineState::Polling;
    }
    for (auto it = m_baud.cbegin(); it != m_baud.cend(); ++it) {
        const QString port = it.key();
        LineEngine *engine = m_claims->claim(port, m_holder, this);
        if (!engine) {
            // Another tool has it: say so on its rows and leave it be.
            m_heldBy[port] = m_claims->holderOf(port);
            for (const auto &m : m_modules) {
                if (m->port == port)
                    m->line = LineState::Held;
            }
            continue;
        }
        auto *poller = new PortPoller(engine, it.value(), m_msClock, this);
        poller->setTimeout(m_timeoutMs);
        poller->setCyclePeriod(m_portCycleMs.value(port, m_cycleMs));
        for (const auto &m : m_modules) {
            if (m->port == port)
                poller->addModule(m.get());
        }
        connect(poller, &PortPoller::polled, this, &Monitor::onPolled);
        connect(poller, &PortPoller::lineDown, this, [this, port] { onLineDown(port); });
        connect(poller, &PortPoller::lineUp, this, [this, port] {
            emit lineUp(port);
            for (const auto &m : m_modules) {
                if (m->port == port)
                    emit rowChanged(m->row);
            }
        });
        m_pollers[port] = poller;
    }
    emit runningChanged(true);
    for (PortPoller *poller : std::as_const(m_pollers))
        poller->start();
    for (const auto &m : m_modules)
        emit rowChanged(m->row);
}

void Monitor::stop()
{
    if (!m_running)
        return;
    m_running = false;
    for (PortPoller *poller : std::as_const(m_pollers)) {
        poller->stop();
        poller->disconnect(this);
        // The engine goes back first: the main window may have its port again.
        m_claims->release(poller->engine());
        poller->deleteLater();
    }
    m_pollers.clear();
    for (const auto &m : m_modules)
        m->line = LineState::Polling;
    emit runningChanged(false);
    for (const auto &m : m_modules)
        emit rowChanged(m->row);
}

RowTone rowTone(const WatchedModule &m)
{
    if (m.dead || m.line != LineState::Polling)
        return RowTone::Dead;
    return m.outsideLimits() ? RowTone::Alarm : RowTone::Normal;
}

double Monitor::pollsPerSecond() const
{
    const double elapsedMs = m_msClock() - m_startedMs;
    if (m_running && elapsedMs >= 1000)
        return m_polls * 1000.0 / elapsedMs;
    double perSecond = 0;
    for (auto it = m_baud.cbegin(); it != m_baud.cend(); ++it) {
        // A read of the fifteen registers and its reply, each followed by the line's silence.
        const Request read = Request::registerRead(1, 0, registerCount);
        const double pollMs = wireMs(int(read.frame().size()) + read.replyLength(), it.value()) +
                              2 * LineEngine::silenceMs(it.value());
        const auto modules = std::count_if(m_modules.begin(), m_modules.end(),
                                           [&](const auto &m) { return m->port == it.key(); });
        perSecond += m_cycleMs > 0 ? std::min(1000.0 / pollMs, modules * 1000.0 / m_cycleMs)
                                   : 1000.0 / pollMs;
    }
    return perSecond;
}

void Monitor::onPolled(WatchedModule *m, const Outcome &outcome)
{
    ++m_polls;
    if (outcome.answered() && m->reading)
        m->lastSeen = m_wallClock();
    if (m_recorder)
        m_recorder->recordRead(m->port, m->station, outcome, false);
    emit polled(*m, outcome);
    emit rowChanged(m->row);
}

void Monitor::onLineDown(const QString &port)
{
    for (const auto &m : m_modules) {
        if (m->port != port)
            continue;
        if (m_recorder)
            m_recorder->recordLineDown(m->port, m->station, m->line == LineState::Lost);
        emit rowChanged(m->row);
    }
    emit lineDown(port);
}

} // namespace kc
