#include "cli/CliSession.h"

#include "line/LineEngine.h"
#include "line/PortClaims.h"
#include "operations/Messages.h"
#include "protocol/FrameCodec.h"
#include "protocol/Link.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace kc {

namespace {

QString ms(double value)
{
    return value < 0 ? QStringLiteral("-") : QString::number(value, 'f', 1);
}

double tenth(double v)
{
    return std::round(v * 10) / 10;
}

} // namespace

CliSession::CliSession(CliOptions options, QTextStream &out, QTextStream &err)
    : m_options(std::move(options)), m_output(out, m_options.json, m_options.command), m_err(err)
{
}

CliSession::~CliSession() = default;

int CliSession::refuse(const QString &message)
{
    // The planners speak of the window's boxes; here each is an option, named
    // with its real range.
    const CliOptions &o = m_options;
    QString said = message;
    if (message == msg::badStation)
        said = msg::cli::station.arg(o.station);
    else if (message == msg::badLength || message == msg::lengthRange)
        said = msg::cli::count.arg(o.registersToRead());
    else if (message == msg::badStart)
        said = msg::cli::start.arg(o.start);
    else if (message == msg::periodNotNumber || message == msg::periodRange)
        said = msg::cli::period.arg(o.period);
    m_err << said << '\n';
    m_err.flush();
    return Exit::Refused;
}

std::optional<int> CliSession::answeringStation(const std::optional<int> &station)
{
    if (!station) {
        refuse(msg::badStation);
        return std::nullopt;
    }
    if (*station == 0) {
        refuse(msg::cli::broadcast);
        return std::nullopt;
    }
    return station;
}

std::optional<Request> CliSession::accepted(const Planned &planned)
{
    if (const auto *refusal = std::get_if<UserMessage>(&planned)) {
        refuse(refusal->text);
        return std::nullopt;
    }
    const Request request = std::get<Request>(planned);
    if (!answeringStation(request.station))
        return std::nullopt;
    return request;
}

bool CliSession::openLine()
{
    m_engine = std::make_unique<LineEngine>(systemLink(m_options.port));
    m_engine->setBaud(m_options.baud);
    m_engine->setTimeout(m_options.timeoutMs);
    m_engine->setRetries(m_options.retries);
    m_engine->setEchoMode(m_options.echo);
    if (m_options.trace) {
        auto since = std::make_shared<QElapsedTimer>();
        since->start();
        auto stamp = [since] { return QString::number(since->nsecsElapsed() / 1e6, 'f', 3); };
        connect(m_engine.get(), &LineEngine::sent, this, [this, stamp](const QByteArray &f) {
            m_err << stamp() << " > " << sentTrace(f).trimmed() << '\n';
            m_err.flush();
        });
        connect(m_engine.get(), &LineEngine::received, this, [this, stamp](const QByteArray &b) {
            m_err << stamp() << " <" << receivedTrace(b) << '\n';
            m_err.flush();
        });
    }
    connect(m_engine.get(), &LineEngine::lineLost, this, [this] { m_stop = true; });
    if (!m_engine->open())
        return failToOpen(openFailureText(m_options.port, m_engine->link()->device(),
                                          m_engine->link()->lastFailure()));
    if (!m_engine->connecting())
        return true;
    // A network line connects behind the open: the command starts once it is
    // up, or ends with why it is not (the link's connect timeout bounds it).
    QEventLoop loop;
    connect(m_engine.get(), &LineEngine::connected, &loop, &QEventLoop::quit);
    connect(m_engine.get(), &LineEngine::lineLost, &loop, &QEventLoop::quit);
    onInterrupt([&loop] { loop.quit(); });
    loop.exec();
    onInterrupt({});
    if (m_engine->connecting()) {
        m_engine->close();
        return failToOpen(msg::cancelled);
    }
    if (m_engine->isOpen())
        return true;
    return failToOpen(openFailureText(m_options.port, m_engine->link()->device(),
                                      m_engine->link()->lastFailure()));
}

bool CliSession::failToOpen(const QString &message)
{
    m_err << message << '\n';
    m_err.flush();
    meet(Exit::Port);
    return false;
}

Outcome CliSession::transact(const Request &request)
{
    const Outcome o = m_engine->transact(request);
    meet(exitStatusOf(o.kind));
    return o;
}

void CliSession::meet(int status)
{
    m_worst = std::max(m_worst, status);
}

void CliSession::interrupt()
{
    m_stop = true;
    if (m_onInterrupt)
        m_onInterrupt();
}

void CliSession::waitMs(double ms)
{
    if (m_stop || (ms >= 0 && ms < 0.5))
        return;
    QEventLoop loop;
    QTimer check;
    QElapsedTimer since;
    since.start();
    connect(&check, &QTimer::timeout, &loop, [&] {
        if (m_stop || (ms >= 0 && since.nsecsElapsed() / 1e6 >= ms))
            loop.quit();
    });
    check.setTimerType(Qt::PreciseTimer);
    check.start(ms >= 0 && ms < 20 ? 1 : 20);
    loop.exec();
}

void CliSession::printStats()
{
    if (!m_engine)
        return;
    const auto &totals = m_engine->totals();
    QList<int> stations = totals.keys();
    std::sort(stations.begin(), stations.end());
    for (int station : stations) {
        const OutcomeTotals &t = totals[station];
        QJsonObject j{{QStringLiteral("stats_station"), station},
                      {QStringLiteral("sent"), t.sent},
                      {QStringLiteral("answered"), t.answered},
                      {QStringLiteral("refused"), t.refused},
                      {QStringLiteral("bad_checksum"), t.badChecksum},
                      {QStringLiteral("wrong_station"), t.wrongStation},
                      {QStringLiteral("mismatch"), t.mismatch},
                      {QStringLiteral("incomplete"), t.incomplete},
                      {QStringLiteral("no_reply"), t.noReply}};
        if (t.times.count() > 0) {
            j[QStringLiteral("last_ms")] = tenth(t.times.last());
            j[QStringLiteral("mean_ms")] = tenth(t.times.mean());
            j[QStringLiteral("p95_ms")] = tenth(t.times.p95());
            j[QStringLiteral("max_ms")] = tenth(t.times.max());
        }
        m_output.result(
            j,
            QStringLiteral("站 %1  发送 %2  应答 %3  拒绝 %4  校验错误 %5  站号不符 %6  "
                           "不完整 %7  无应答 %8  响应 最近 %9  平均 %10  "
                           "95% %11  最大 %12 ms")
                .arg(station)
                .arg(t.sent)
                .arg(t.answered)
                .arg(t.refused)
                .arg(t.badChecksum)
                .arg(t.wrongStation + t.mismatch)
                .arg(t.incomplete)
                .arg(t.noReply)
                .arg(ms(t.times.last()), ms(t.times.mean()), ms(t.times.p95()), ms(t.times.max())));
    }
}

int runCommand(CliSession &s)
{
    using Runner = int (*)(CliSession &);
    static const QHash<QString, Runner> runners{
        {QStringLiteral("ports"), runPorts},
        {QStringLiteral("read"), runRead},
        {QStringLiteral("write"), runWrite},
        {QStringLiteral("address"), runAddress},
        {QStringLiteral("set-address"), runSetAddress},
        {QStringLiteral("info"), runInfo},
        {QStringLiteral("poll"), runPoll},
        {QStringLiteral("uploads"), runUploads},
        {QStringLiteral("scan"), runScan},
        {QStringLiteral("snapshot"), runSnapshot},
        {QStringLiteral("apply"), runApply},
        {QStringLiteral("diagnose"), runDiagnose},
        {QStringLiteral("listen"), runListen},
    };
    int status = runners.value(s.options().command)(s);
    if (s.engine() && s.engine()->lost())
        status = std::max(status, int(Exit::Port));
    if (s.options().stats)
        s.printStats();
    return std::max(status, s.worst());
}

} // namespace kc
