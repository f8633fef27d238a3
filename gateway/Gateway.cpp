#include "gateway/Gateway.h"

#include "gateway/GatewayService.h"
#include "gateway/ModbusServer.h"
#include "gateway/MqttPublisher.h"
#include "line/Commissioner.h"
#include "line/LineEngine.h"
#include "operations/ModuleReading.h"
#include "operations/RegisterMap.h"
#include "protocol/Link.h"

#include <QDateTime>

namespace kc {

namespace {

// A module's availability as last published.
constexpr int notSaid = -1;
constexpr int offlineWithItsLine = -2; // said offline as its line went down
constexpr int logRetryMs = 60000;
// A request's value as it is echoed in its answer and the journal: a payload
// of any length may arrive, and none needs more to be recognised.
constexpr int echoedChars = 64;

QString openFailureText(OpenFailure failure)
{
    switch (failure) {
    case OpenFailure::NoDevice:
        return QStringLiteral("no such device");
    case OpenFailure::NoPermission:
        return QStringLiteral("permission denied (the user must be in the group dialout)");
    case OpenFailure::Busy:
        return QStringLiteral("another program holds it");
    case OpenFailure::Timeout:
        return QStringLiteral("the connection timed out");
    case OpenFailure::Refused:
        return QStringLiteral("the connection was refused");
    case OpenFailure::NoHost:
        return QStringLiteral("no such host");
    case OpenFailure::None:
    case OpenFailure::Other:
        break;
    }
    return QStringLiteral("the system refused to open it");
}

} // namespace

Gateway::Gateway(const GatewayConfig &config, MqttPublisher *publisher,
                 PortClaims::LinkFactory links, QObject *parent)
    : QObject(parent), m_config(config), m_publisher(publisher), m_claims(std::move(links)),
      m_recorder(nullptr, &m_log), m_monitor(&m_claims)
{
    m_monitor.setHolder(Holder::Gateway);
    // Each line's adapter as configured: its echo taken off every reply.
    connect(&m_claims, &PortClaims::engineMade, this, [this](LineEngine *engine) {
        for (const LineConfig &line : m_config.lines) {
            if (portKey(line.port) == portKey(engine->port()))
                engine->setEchoMode(line.echo);
        }
    });
    m_log.setFolder(config.dataLogFolder);
    m_logRetry.setSingleShot(true);
    m_logRetry.setInterval(logRetryMs);
    // A full or failing disk stops the log; it is tried again rather than
    // left off for the years the service runs.
    connect(&m_recorder, &Recorder::logFailed, this, [this] {
        serviceLog(LogPriority::error, QStringLiteral("data log in %1 stopped: %2; trying again in "
                                                      "%3 s")
                                           .arg(m_log.folder(), m_log.error())
                                           .arg(logRetryMs / 1000));
        m_logRetry.start();
    });
    connect(&m_logRetry, &QTimer::timeout, this, [this] { m_recorder.setLogging(true); });
    connect(&m_monitor, &Monitor::polled, this, &Gateway::onPolled);
    connect(&m_monitor, &Monitor::lineDown, this, &Gateway::onLineDown);
    connect(&m_monitor, &Monitor::lineUp, this, &Gateway::onLineUp);
}

Gateway::~Gateway()
{
    stop();
}

bool Gateway::start()
{
    for (int i = 0; i < m_config.lines.size(); ++i) {
        const LineConfig &line = m_config.lines[i];
        QStringList stations;
        for (const int station : line.stations)
            stations << QString::number(station);
        if (const auto refused =
                m_monitor.add(line.port, stations.join(QLatin1Char(',')), line.baud)) {
            serviceLog(LogPriority::error,
                       QStringLiteral("lines[%1]: %2: %3").arg(i).arg(line.port, refused->text));
            return false;
        }
        m_monitor.setCyclePeriod(line.port, line.cycleMs);
        m_lineOfRow.resize(m_monitor.rowCount(), i);
    }
    m_availability.fill(notSaid, m_monitor.rowCount());

    const QString &prefix = m_config.topicPrefix;
    if (m_config.discovery) {
        for (const LineConfig &line : m_config.lines) {
            for (const int station : line.stations) {
                for (const TopicMessage &m : discoveryMessages(prefix, line.name, station, {}))
                    m_publisher->publish(m.topic, m.payload, m.retain);
            }
        }
    }
    // Without writes allowed there is no subscription: a request published
    // anyway never reaches the gateway.
    if (m_config.writesAllowed) {
        m_publisher->subscribe(setTopicFilter(prefix), 1);
        connect(m_publisher, &MqttPublisher::messageReceived, this, &Gateway::onMessage);
    }
    if (m_config.dataLogEnabled)
        serviceLog(LogPriority::info, QStringLiteral("data log in %1").arg(m_log.folder()));
    if (m_config.serve.enabled && !serve())
        return false;
    m_recorder.setLogging(m_config.dataLogEnabled);
    m_monitor.setRecorder(&m_recorder);
    m_running = true;
    m_monitor.start();
    // A port claimed twice under two names is polled by its first line only.
    for (int i = 0; i < m_config.lines.size(); ++i) {
        const WatchedModule &first = m_monitor.module(int(m_lineOfRow.indexOf(i)));
        if (first.line == LineState::Held)
            onLineDown(first.port);
    }
    return true;
}

bool Gateway::serve()
{
    const ServeConfig &serve = m_config.serve;
    m_server = std::make_unique<ModbusServer>(serve, [this](int unit) {
        const auto route = m_config.serve.units.constFind(unit);
        if (route == m_config.serve.units.cend())
            return std::optional<ModbusServer::Route>();
        return std::optional<ModbusServer::Route>(
            {m_monitor.poller(m_config.lines[route->line].port), route->station});
    });
    QString why;
    if (!m_server->listen(&why)) {
        serviceLog(LogPriority::error, QStringLiteral("serve: ") + why);
        m_server.reset();
        return false;
    }
    serviceLog(LogPriority::info,
               QStringLiteral("Modbus TCP at %1:%2 for %3 unit id(s), writes %4, at most %5 "
                              "clients")
                   .arg(serve.bind)
                   .arg(m_server->port())
                   .arg(serve.units.size())
                   .arg(serve.writes ? QStringLiteral("allowed") : QStringLiteral("refused"))
                   .arg(serve.maxClients));
    return true;
}

void Gateway::stop()
{
    if (!m_running)
        return;
    m_running = false;
    m_server.reset(); // its clients first: the lines they ask are going
    m_monitor.stop();
    m_logRetry.stop();
    m_log.close();
}

const LineConfig &Gateway::lineOf(int row) const
{
    return m_config.lines[m_lineOfRow[row]];
}

QString Gateway::moduleName(int row) const
{
    return QStringLiteral("%1/%2").arg(lineOf(row).name).arg(m_monitor.module(row).station);
}

void Gateway::onPolled(const WatchedModule &module, const Outcome &outcome)
{
    const LineConfig &line = lineOf(module.row);
    PollReport report;
    report.time = QDateTime::currentDateTime();
    report.port = line.port;
    report.line = line.name;
    report.station = module.station;
    if (const std::optional<Reading> reading = readingOf(outcome)) {
        report.temperature = reading->temperature;
        report.humidity = reading->humidity;
        report.alarmCode = reading->alarmCode;
    }
    report.outcome = outcomeKey(outcome.kind);
    report.responseMs = outcome.responseMs;
    report.device = module.deviceText;
    m_publisher->publish(stateTopic(m_config.topicPrefix, line.name, module.station),
                         statePayload(report));
    if (outcome.answered())
        setAvailability(module.row, true);
    else if (module.dead)
        setAvailability(module.row, false);
}

void Gateway::setAvailability(int row, bool online)
{
    const int said = m_availability[row];
    if (said == int(online) || (!online && said == offlineWithItsLine))
        return;
    m_availability[row] = int(online);
    const LineConfig &line = lineOf(row);
    const WatchedModule &m = m_monitor.module(row);
    m_publisher->publish(availabilityTopic(m_config.topicPrefix, line.name, m.station),
                         online ? QByteArrayLiteral("online") : QByteArrayLiteral("offline"));
    // A module's first answer is no news, nor is every module of a line back:
    // the line's going and coming are logged once, by the line.
    if (online && said == 0)
        serviceLog(LogPriority::info, QStringLiteral("%1 answers again").arg(moduleName(row)));
    else if (!online && m.line == LineState::Polling)
        serviceLog(LogPriority::warning, QStringLiteral("%1 stopped answering (%2 polls in a row)")
                                             .arg(moduleName(row))
                                             .arg(PortPoller::deadAfter));
}

void Gateway::onLineDown(const QString &port)
{
    const QDateTime now = QDateTime::currentDateTime();
    int first = -1;
    for (int row = 0; row < m_monitor.rowCount(); ++row) {
        const WatchedModule &m = m_monitor.module(row);
        if (m.port != port)
            continue;
        if (first < 0)
            first = row;
        PollReport report;
        report.time = now;
        report.port = lineOf(row).port;
        report.line = lineOf(row).name;
        report.station = m.station;
        report.outcome = lineStateKey(m.line);
        m_publisher->publish(stateTopic(m_config.topicPrefix, report.line, m.station),
                             statePayload(report));
        setAvailability(row, false);
        m_availability[row] = offlineWithItsLine;
    }
    if (first < 0)
        return;
    const LineConfig &line = lineOf(first);
    if (m_monitor.module(first).line == LineState::Lost) {
        serviceLog(LogPriority::error,
                   QStringLiteral("line %1: %2 went away; reopened as soon as it is back")
                       .arg(line.name, line.port));
        return;
    }
    if (m_monitor.module(first).line == LineState::Held) {
        serviceLog(LogPriority::error,
                   QStringLiteral("line %1: %2 is the device of another line; not polled")
                       .arg(line.name, line.port));
        return;
    }
    const Link *link = m_monitor.poller(port)->engine()->link();
    const QString device = link->device().isEmpty() ? line.port : link->device();
    serviceLog(LogPriority::error,
               QStringLiteral("line %1: cannot open %2: %3; trying again every second")
                   .arg(line.name, device, openFailureText(link->lastFailure())));
}

void Gateway::onLineUp(const QString &port)
{
    for (int row = 0; row < m_monitor.rowCount(); ++row) {
        if (m_monitor.module(row).port == port) {
            serviceLog(LogPriority::info, QStringLiteral("line %1: %2 open, polling")
                                              .arg(lineOf(row).name, lineOf(row).port));
            return;
        }
    }
}

void Gateway::onMessage(const QString &topic, const QByteArray &payload, bool retained)
{
    const auto request = parseSetTopic(m_config.topicPrefix, topic);
    if (!request)
        return; // an answer, or not a request at all
    const QString text = QString::fromUtf8(payload);
    int row = 0;
    while (row < m_monitor.rowCount() &&
           (lineOf(row).name != request->line || m_monitor.module(row).station != request->station))
        ++row;
    WriteAnswer refusal;
    refusal.value = text;
    // The broker replays a request published with the retain flag at every
    // (re)connect: a write is carried out when asked, not again at each one.
    if (retained) {
        refusal.result = QStringLiteral("retained");
        serviceLog(LogPriority::warning,
                   QStringLiteral("write on %1 not carried out: a retained request, replayed by "
                                  "the broker; publish write requests without the retain flag")
                       .arg(topic));
        return answerWrite(-1, topic, refusal);
    }
    if (row == m_monitor.rowCount()) {
        refusal.result = QStringLiteral("unknown_module");
        serviceLog(LogPriority::warning,
                   QStringLiteral("write on %1 refused: no station %2 on a line named %3")
                       .arg(topic)
                       .arg(request->station)
                       .arg(request->line));
        return answerWrite(-1, topic, refusal);
    }
    if (request->row < firstWritable || request->row >= registerCount) {
        refusal.result = QStringLiteral("not_writable");
        return answerWrite(row, topic, refusal);
    }
    const WatchedModule &m = m_monitor.module(row);
    writeStep(
        row,
        std::make_shared<RowWriteSteps>(m.station, request->row, text, m_monitor.baudOf(m.port)),
        topic);
}

void Gateway::writeStep(int row, const std::shared_ptr<RowWriteSteps> &steps, const QString &topic)
{
    const auto step = steps->next();
    if (!step) {
        const RowWrite &done = steps->result();
        answerWrite(row, topic, writeAnswer(done));
        if (done.diff.row == baudRow && done.result == RowResult::Confirmed &&
            steps->moduleBaud() != lineOf(row).baud)
            serviceLog(LogPriority::warning,
                       QStringLiteral("%1 listens at %2 baud now; line %3 is polled at %4 baud, "
                                      "so it answers there no more")
                           .arg(moduleName(row))
                           .arg(steps->moduleBaud())
                           .arg(lineOf(row).name)
                           .arg(lineOf(row).baud));
        return;
    }
    // Between polls, on the poller's own engine: the line keeps one master.
    // The poller goes back to the line's rate for its next turn.
    WriteAnswer notCarriedOut;
    notCarriedOut.value = steps->result().diff.writeText;
    const auto onOutcome = [=](const std::optional<Outcome> &outcome) {
        if (!outcome) {
            // The line went down: whether the write itself was answered, if it went.
            WriteAnswer lost = notCarriedOut;
            if (steps->result().written)
                lost.outcome = outcomeKey(steps->result().writeOutcome.kind);
            return answerWrite(row, topic, lost);
        }
        steps->take(*outcome);
        writeStep(row, steps, topic);
    };
    PortPoller *poller = m_monitor.poller(m_monitor.module(row).port);
    if (!poller || !poller->interject(step->request, onOutcome, step->baud))
        answerWrite(row, topic, notCarriedOut);
}

void Gateway::answerWrite(int row, const QString &topic, WriteAnswer answer)
{
    answer.time = QDateTime::currentDateTime();
    answer.value = answer.value.left(echoedChars);
    if (answer.result.isEmpty()) {
        // Not carried out: the line is down or the gateway is stopping.
        const LineState state = m_monitor.module(row).line;
        answer.result = m_running ? lineStateKey(state) : QStringLiteral("gateway_stopping");
        if (answer.result.isEmpty())
            answer.result = lineStateKey(LineState::Lost);
    }
    m_publisher->publish(setResultTopic(topic), writeResultPayload(answer), false);
    if (row >= 0)
        serviceLog(
            answer.result == QLatin1String("confirmed") ? LogPriority::info : LogPriority::warning,
            QStringLiteral("write %1 row %2 = \"%3\": %4%5")
                .arg(moduleName(row), topic.section(QLatin1Char('/'), -1), answer.value,
                     answer.result,
                     answer.message.isEmpty() ? QString()
                                              : QStringLiteral(" (%1)").arg(answer.message)));
}

} // namespace kc
