#include "line/Monitor.h"

#include "line/LineEngine.h"
#include "line/PortClaims.h"
#include "line/TrendHistory.h"
#include "operations/DataLog.h"
#include "protocol/QtSerialLink.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace kc {

namespace {

constexpr int firstStation = 1;
constexpr int lastStation = 250;

bool knownBaud(int baud)
{
    return baud == 2400 || baud == 4800 || baud == 9600 || baud == 19200 || baud == 38400;
}

// "com3 " and "COM3" are one port.
QString portText(const QString &port)
{
    const QString trimmed = port.trimmed();
    return trimmed.startsWith(QLatin1String("com"), Qt::CaseInsensitive) ? trimmed.toUpper()
                                                                         : trimmed;
}

} // namespace

std::optional<QVector<int>> parseStations(const QString &text)
{
    static const QRegularExpression item(QStringLiteral("^(\\d{1,3})(?:-(\\d{1,3}))?$"));
    QVector<int> stations;
    const QStringList parts =
        QString(text).replace(QChar(0xFF0C), QLatin1Char(',')).split(QLatin1Char(','));
    for (const QString &part : parts) {
        const QRegularExpressionMatch m = item.match(part.trimmed());
        if (!m.hasMatch())
            return std::nullopt;
        const int first = m.captured(1).toInt();
        const int last = m.captured(2).isEmpty() ? first : m.captured(2).toInt();
        if (first < firstStation || last > lastStation || last < first)
            return std::nullopt;
        for (int s = first; s <= last; ++s) {
            if (stations.contains(s))
                return std::nullopt;
            stations << s;
        }
    }
    return stations;
}

Monitor::Monitor(PortClaims *claims, LinkFactory links, QObject *parent)
    : QObject(parent), m_claims(claims), m_links(std::move(links)),
      m_msClock(LineEngine::monotonicClock()),
      m_wallClock([] { return QDateTime::currentDateTime(); })
{
    if (!m_links) {
        m_links = [](const QString &port) {
            auto *link = new QtSerialLink;
            link->setDevice(stableDevice(port));
            return link;
        };
    }
}

Monitor::~Monitor()
{
    stop();
}

void Monitor::setClocks(std::function<double()> ms, std::function<QDateTime()> wall)
{
    m_msClock = std::move(ms);
    m_wallClock = std::move(wall);
}

std::optional<UserMessage> Monitor::add(const QString &portGiven, const QString &stationText,
                                        int baud)
{
    const QString port = portText(portGiven);
    if (port.isEmpty())
        return UserMessage{msg::noPort};
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
    Monitor loaded(nullptr, m_links);
    for (const QJsonValue &p : doc.object().value(QLatin1String("ports")).toArray()) {
        const QJsonObject o = p.toObject();
        const int baud = o.value(QLatin1String("baud")).toInt();
        QStringList stations;
        for (const QJsonValue &s : o.value(QLatin1String("stations")).toArray())
            stations << QString::number(s.toInt(-1));
        if (!knownBaud(baud) || stations.isEmpty() ||
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
    for (const auto &m : m_modules) {
        m->dead = false;
        m->silentInRow = 0;
        m->portProblem.clear();
    }
    for (auto it = m_baud.cbegin(); it != m_baud.cend(); ++it) {
        const QString port = it.key();
        const QString identity = portIdentity(port);
        if (m_claims && !m_claims->claim(identity, msg::portUsedByMonitor)) {
            // Another tool window has it: say so on its rows and leave it be.
            for (const auto &m : m_modules) {
                if (m->port == port)
                    m->portProblem = m_claims->refusal(port);
            }
            continue;
        }
        m_claimed[port] = identity;
        auto *poller = new PortPoller(m_links(port), it.value(), m_msClock, this);
        poller->setTimeout(m_timeoutMs);
        poller->setCyclePeriod(m_cycleMs);
        for (const auto &m : m_modules) {
            if (m->port == port)
                poller->addModule(m.get());
        }
        connect(poller, &PortPoller::polled, this, &Monitor::onPolled);
        connect(poller, &PortPoller::lineDown, this, [this, port] { onLineDown(port); });
        connect(poller, &PortPoller::lineUp, this, [this, port] {
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
        poller->deleteLater();
    }
    m_pollers.clear();
    // The links are closed: the main window may have its port back.
    for (const QString &identity : std::as_const(m_claimed)) {
        if (m_claims)
            m_claims->release(identity);
    }
    m_claimed.clear();
    for (const auto &m : m_modules)
        m->portProblem.clear();
    emit runningChanged(false);
    for (const auto &m : m_modules)
        emit rowChanged(m->row);
}

RowTone rowTone(const WatchedModule &m)
{
    if (m.dead || !m.portProblem.isEmpty())
        return RowTone::Dead;
    return m.outsideLimits() ? RowTone::Alarm : RowTone::Normal;
}

QStringList rowTexts(const WatchedModule &m)
{
    const bool answered = m.last && m.last->kind == OutcomeKind::Answered;
    QString result = m.portProblem;
    if (result.isEmpty() && m.dead)
        result = QStringLiteral("停止应答");
    else if (result.isEmpty() && m.last)
        result = outcomeText(*m.last);
    return {
        m.port,
        QString::number(m.station),
        m.deviceText,
        m.reading ? hundredthsText(m.reading->temperature) : QString(),
        m.reading ? hundredthsText(m.reading->humidity) : QString(),
        m.reading ? alarmText(m.reading->alarmCode) : QString(),
        result,
        answered ? QString::number(m.last->responseMs, 'f', 1) : QString(),
        QString::number(m.answered),
        QString::number(m.noReply),
        QString::number(m.errors),
        m.lastSeen.isValid() ? m.lastSeen.toString(QStringLiteral("MM-dd HH:mm:ss")) : QString(),
    };
}

QString Monitor::sourceKey(const QString &port, int station)
{
    return port + QLatin1Char('#') + QString::number(station);
}

void Monitor::onPolled(WatchedModule *m, const Outcome &outcome)
{
    const QDateTime now = m_wallClock();
    const bool answered = outcome.kind == OutcomeKind::Answered && m->reading;
    if (answered)
        m->lastSeen = now;
    if (m_log && m_log->enabled())
        writeLog(pollRow(m->port, m->station, m->reading, outcome, now));
    if (m_trend && answered)
        m_trend->add(sourceKey(m->port, m->station), {m->port, m->station}, now.toMSecsSinceEpoch(),
                     m->reading->temperature / 100.0, m->reading->humidity / 100.0, m->limits);
    emit rowChanged(m->row);
}

void Monitor::onLineDown(const QString &port)
{
    const QDateTime now = m_wallClock();
    for (const auto &m : m_modules) {
        if (m->port != port)
            continue;
        if (m_log && m_log->enabled())
            writeLog(LogRow{now, m->port, m->station, {}, {}, {}, m->portProblem, -1});
        emit rowChanged(m->row);
    }
}

void Monitor::writeLog(const LogRow &row)
{
    if (m_log->write(row))
        return;
    m_log->setEnabled(false);
    emit logFailed(m_log->error());
}

} // namespace kc
