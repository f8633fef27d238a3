#include "cli/CliRun.h"

#include "line/BusScan.h"
#include "line/Commissioner.h"
#include "line/LineEngine.h"
#include "operations/Messages.h"
#include "operations/NumberText.h"
#include "operations/RegisterMap.h"
#include "operations/Replies.h"
#include "operations/Requests.h"
#include "protocol/FrameCodec.h"
#include "protocol/Framing.h"
#include "protocol/PortNaming.h"
#include "protocol/QtSerialLink.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTimer>

#include <algorithm>
#include <unistd.h>

namespace kc {

namespace {

QString isoNow()
{
    return QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
}

// The register words of an answered read, with each row's text.
struct RowValue
{
    int row;
    QString text;
    int raw;
};

QVector<RowValue> rowValues(const Outcome &o, int start)
{
    QVector<RowValue> rows;
    const Delivery d = decodeDelivery(RequestKind::RegisterRead, o.frame, start);
    for (const ValueText &v : d.values) {
        const int at = 3 + 2 * (v.index - start);
        rows.push_back(
            {v.index, v.text, std::uint8_t(o.frame[at]) << 8 | std::uint8_t(o.frame[at + 1])});
    }
    return rows;
}

QString caption(int row)
{
    return QString::fromUtf8(registerMap()[row].caption);
}

QString ms(double value)
{
    return value < 0 ? QStringLiteral("-") : QString::number(value, 'f', 1);
}

} // namespace

int exitStatusOf(OutcomeKind kind)
{
    switch (kind) {
    case OutcomeKind::Answered:
    case OutcomeKind::Broadcast:
        return Exit::Ok;
    case OutcomeKind::NoReply:
    case OutcomeKind::Superseded:
        return Exit::NoReply;
    case OutcomeKind::Refused:
        return Exit::ModuleRefused;
    case OutcomeKind::BadChecksum:
    case OutcomeKind::WrongStation:
    case OutcomeKind::Incomplete:
        break;
    }
    return Exit::BadReply;
}

QString outcomeKey(OutcomeKind kind)
{
    switch (kind) {
    case OutcomeKind::Answered:
        return QStringLiteral("answered");
    case OutcomeKind::Refused:
        return QStringLiteral("refused");
    case OutcomeKind::BadChecksum:
        return QStringLiteral("bad_checksum");
    case OutcomeKind::WrongStation:
        return QStringLiteral("wrong_station");
    case OutcomeKind::Incomplete:
        return QStringLiteral("incomplete");
    case OutcomeKind::NoReply:
        return QStringLiteral("no_reply");
    case OutcomeKind::Broadcast:
        return QStringLiteral("broadcast");
    case OutcomeKind::Superseded:
        break;
    }
    return QStringLiteral("superseded");
}

CliRun::CliRun(CliOptions options, QTextStream &out, QTextStream &err)
    : m_options(std::move(options)), m_out(out), m_err(err)
{
}

CliRun::~CliRun() = default;

int CliRun::run()
{
    const QString &c = m_options.command;
    int status = c == QLatin1String("ports")         ? ports()
                 : c == QLatin1String("read")        ? read()
                 : c == QLatin1String("write")       ? write()
                 : c == QLatin1String("address")     ? address()
                 : c == QLatin1String("set-address") ? setAddress()
                 : c == QLatin1String("info")        ? info()
                 : c == QLatin1String("poll")        ? poll()
                 : c == QLatin1String("scan")        ? scan()
                 : c == QLatin1String("snapshot")    ? snapshot()
                 : c == QLatin1String("apply")       ? apply()
                                                     : uploads();
    if (m_engine && m_engine->lost())
        status = Exit::Port;
    if (m_options.stats && m_engine)
        printStats();
    m_out.flush();
    return std::max(status, m_worst);
}

void CliRun::interrupt()
{
    m_stop = true;
    if (m_scan)
        m_scan->cancel();
}

int CliRun::refuse(const QString &message)
{
    m_err << message << '\n';
    m_err.flush();
    return Exit::Refused;
}

bool CliRun::openLine()
{
    auto *link = new QtSerialLink;
    static const QRegularExpression comName(QStringLiteral("^COM([0-9]+)$"));
    const auto com = comName.match(m_options.port);
    if (com.hasMatch())
        link->setCommPort(com.captured(1).toInt());
    else
        link->setDevice(m_options.port);
    m_engine = std::make_unique<LineEngine>(link);
    m_engine->setBaud(m_options.baud);
    m_engine->setTimeout(m_options.timeoutMs);
    m_engine->setRetries(m_options.retries);
    if (m_options.trace) {
        QElapsedTimer *since = new QElapsedTimer;
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
        connect(m_engine.get(), &QObject::destroyed, [since] { delete since; });
    }
    connect(m_engine.get(), &LineEngine::lineLost, this, [this] { m_stop = true; });
    if (m_engine->open())
        return true;
    m_err << msg::portBusy << '\n';
    m_err.flush();
    return false;
}

Outcome CliRun::transact(const RequestPlan &plan)
{
    Outcome o = m_engine->transact(plan);
    m_worst = std::max(m_worst, exitStatusOf(o.kind));
    return o;
}

QJsonObject CliRun::outcomeJson(const Outcome &o) const
{
    QJsonObject j{{QStringLiteral("outcome"), outcomeKey(o.kind)},
                  {QStringLiteral("text"), outcomeText(o)}};
    if (o.responseMs >= 0)
        j[QStringLiteral("response_ms")] = std::round(o.responseMs * 10) / 10;
    if (o.kind == OutcomeKind::Refused) {
        j[QStringLiteral("exception")] = o.exceptionCode;
        j[QStringLiteral("exception_name")] = exceptionName(o.exceptionCode);
    }
    if (o.kind == OutcomeKind::WrongStation)
        j[QStringLiteral("from_station")] = o.station;
    return j;
}

void CliRun::report(QJsonObject result, const QString &text)
{
    if (m_options.json) {
        result[QStringLiteral("command")] = m_options.command;
        m_out << QJsonDocument(result).toJson(QJsonDocument::Compact) << '\n';
    } else {
        m_out << text << '\n';
    }
    m_out.flush();
}

int CliRun::ports()
{
    const QStringList devices = portDevices();
    for (int n = 1; n <= portCount; ++n) {
        const QString device = devices.value(n - 1);
        report({{QStringLiteral("port"), QStringLiteral("COM%1").arg(n)},
                {QStringLiteral("device"), device}},
               QStringLiteral("COM%1\t%2")
                   .arg(n)
                   .arg(device.isEmpty() ? QStringLiteral("-") : device));
    }
    return Exit::Ok;
}

int CliRun::read()
{
    const Planned planned = planRegisterRead(
        {m_options.station, QStringLiteral("3"), m_options.start, m_options.count});
    if (const auto *refusal = std::get_if<UserMessage>(&planned))
        return refuse(refusal->text);
    const RequestPlan plan = std::get<RequestPlan>(planned);
    if (!openLine())
        return Exit::Port;
    const Outcome o = transact(plan);
    QJsonObject j = outcomeJson(o);
    j[QStringLiteral("station")] = std::uint8_t(plan.frame[0]);
    QString text;
    if (o.kind == OutcomeKind::Answered) {
        QJsonArray rows;
        for (const RowValue &r : rowValues(o, plan.startRegister)) {
            rows.append(QJsonObject{{QStringLiteral("row"), r.row},
                                    {QStringLiteral("caption"), caption(r.row)},
                                    {QStringLiteral("value"), r.text},
                                    {QStringLiteral("raw"), r.raw}});
            text += QStringLiteral("%1  %2  %3  %4\n")
                        .arg(r.row, 2)
                        .arg(caption(r.row), -10)
                        .arg(r.text, 9)
                        .arg(r.raw, 5);
        }
        j[QStringLiteral("registers")] = rows;
    }
    report(j, text + outcomeText(o));
    return exitStatusOf(o.kind);
}

int CliRun::write()
{
    struct Job
    {
        int row;
        QString value;
        RequestPlan write, readBack;
    };
    QVector<Job> jobs;
    if (m_options.arguments.isEmpty())
        return refuse(msg::badRowValue);
    for (const QString &pair : m_options.arguments) {
        const int eq = int(pair.indexOf(QLatin1Char('=')));
        const auto rowValue = eq > 0 ? numericValue(pair.left(eq)) : std::nullopt;
        const auto row = rowValue && *rowValue == wholePart(*rowValue)
                             ? intInRange(*rowValue, firstWritable, registerCount - 1)
                             : std::nullopt;
        if (!row)
            return refuse(msg::badRowValue);
        const QString value = pair.mid(eq + 1);
        const Planned planned = planParameterWrite(*row - firstWritable, value, m_options.station);
        if (const auto *refusal = std::get_if<UserMessage>(&planned))
            return refuse(refusal->text);
        const RequestPlan write = std::get<RequestPlan>(planned);
        // Read back at the station the write went to.
        const RequestPlan readBack = std::get<RequestPlan>(
            planRegisterRead({QString::number(std::uint8_t(write.frame[0])), QStringLiteral("3"),
                              QString::number(*row), QStringLiteral("1")}));
        jobs.push_back({*row, value, write, readBack});
    }
    if (!openLine())
        return Exit::Port;
    int worst = Exit::Ok;
    for (const Job &job : jobs) {
        if (m_stop)
            break;
        const auto word = std::uint8_t(job.write.frame[4]) << 8 | std::uint8_t(job.write.frame[5]);
        const Outcome w = transact(job.write);
        QJsonObject j = outcomeJson(w);
        const bool written = w.kind == OutcomeKind::Answered;
        int status = exitStatusOf(w.kind);
        QString text = QStringLiteral("%1 %2 = %3: %4")
                           .arg(job.row)
                           .arg(caption(job.row), job.value, j[QStringLiteral("text")].toString());
        j[QStringLiteral("row")] = job.row;
        j[QStringLiteral("caption")] = caption(job.row);
        j[QStringLiteral("value")] = job.value;
        j[QStringLiteral("word")] = word;
        if (written) {
            const Outcome back = transact(job.readBack);
            const QVector<RowValue> rows = rowValues(back, job.row);
            const bool same = !rows.isEmpty() && rows.first().raw == word;
            j[QStringLiteral("readback")] = rows.isEmpty() ? QJsonValue() : rows.first().text;
            j[QStringLiteral("match")] = same;
            text += rows.isEmpty() ? QStringLiteral("; 回读 ") + outcomeText(back)
                                   : QStringLiteral("; 回读 %1 %2")
                                         .arg(rows.first().text, same ? QStringLiteral("一致")
                                                                      : QStringLiteral("不一致"));
            status = rows.isEmpty() ? exitStatusOf(back.kind) : same ? Exit::Ok : Exit::BadReply;
        }
        worst = std::max(worst, status);
        report(j, text);
    }
    return worst;
}

int CliRun::address()
{
    if (!openLine())
        return Exit::Port;
    const Outcome o = transact(planAddressRead());
    QJsonObject j = outcomeJson(o);
    QString text = outcomeText(o);
    if (o.kind == OutcomeKind::Answered) {
        j[QStringLiteral("address")] = o.station;
        text = QStringLiteral("地址 %1  ").arg(o.station) + text;
    }
    report(j, text);
    return exitStatusOf(o.kind);
}

int CliRun::setAddress()
{
    const QString target = m_options.arguments.value(0);
    const Planned planned = planAddressChange(m_options.station, target);
    if (const auto *refusal = std::get_if<UserMessage>(&planned))
        return refuse(refusal->text);
    const RequestPlan change = std::get<RequestPlan>(planned);
    const int newAddress = std::uint8_t(change.frame[5]);
    const RequestPlan confirm =
        std::get<RequestPlan>(planRegisterRead({QString::number(newAddress), QStringLiteral("3"),
                                                QStringLiteral("0"), QStringLiteral("1")}));
    if (!openLine())
        return Exit::Port;
    const Outcome o = transact(change);
    QJsonObject j = outcomeJson(o);
    j[QStringLiteral("from")] = std::uint8_t(change.frame[0]);
    j[QStringLiteral("to")] = newAddress;
    QString text = outcomeText(o);
    int status = exitStatusOf(o.kind);
    if (o.kind == OutcomeKind::Answered) {
        const Outcome c = transact(confirm);
        j[QStringLiteral("confirmed")] = c.kind == OutcomeKind::Answered;
        text += QStringLiteral("; 站 %1 确认：").arg(newAddress) + outcomeText(c);
        status = exitStatusOf(c.kind);
    }
    report(j, text);
    return status;
}

int CliRun::info()
{
    const Planned planned = planDeviceInfo(m_options.station);
    if (const auto *refusal = std::get_if<UserMessage>(&planned))
        return refuse(refusal->text);
    if (!openLine())
        return Exit::Port;
    const Outcome o = transact(std::get<RequestPlan>(planned));
    QJsonObject j = outcomeJson(o);
    QString text = outcomeText(o);
    if (o.kind == OutcomeKind::Answered) {
        const QString device = deviceInfoText(o.frame);
        j[QStringLiteral("device")] = device;
        text = device + QStringLiteral("  ") + text;
    }
    report(j, text);
    return exitStatusOf(o.kind);
}

int CliRun::poll()
{
    int periodMs = 0;
    if (m_options.period.trimmed() != QLatin1String("0")) {
        const auto period = planPolling(m_options.period);
        if (const auto *refusal = std::get_if<UserMessage>(&period))
            return refuse(refusal->text);
        periodMs = std::get<int>(period);
    }
    const Planned planned = planRegisterRead(
        {m_options.station, QStringLiteral("3"), m_options.start, QString::number(registerCount)});
    if (const auto *refusal = std::get_if<UserMessage>(&planned))
        return refuse(refusal->text);
    const RequestPlan plan = std::get<RequestPlan>(planned);
    QStringList header = {QStringLiteral("time"), QStringLiteral("cycle"),
                          QStringLiteral("outcome"), QStringLiteral("response_ms")};
    for (int row = plan.startRegister; row < registerCount; ++row)
        header << QStringLiteral("r%1").arg(row);
    if (!m_options.csv.isEmpty() && !openCsv(header.join(QLatin1Char(','))))
        return refuse(QStringLiteral("无法写入文件：") + m_options.csv);
    if (!openLine())
        return Exit::Port;
    QElapsedTimer clock;
    clock.start();
    for (long long cycle = 1; !m_stop && (m_options.pollCount < 0 || cycle <= m_options.pollCount);
         ++cycle) {
        const double began = double(clock.nsecsElapsed()) / 1e6;
        const QString time = isoNow();
        const Outcome o = transact(plan);
        QStringList values;
        for (const RowValue &r : rowValues(o, plan.startRegister))
            values << r.text;
        QJsonObject j = outcomeJson(o);
        j[QStringLiteral("cycle")] = cycle;
        j[QStringLiteral("time")] = time;
        j[QStringLiteral("values")] = QJsonArray::fromStringList(values);
        report(j, QStringLiteral("%1  %2  %3  %4")
                      .arg(time)
                      .arg(cycle)
                      .arg(outcomeText(o), values.join(' ')));
        csvRow(QStringList{time, QString::number(cycle), outcomeKey(o.kind), ms(o.responseMs)}.join(
                   QLatin1Char(',')) +
               (values.isEmpty() ? QString() : QLatin1Char(',') + values.join(QLatin1Char(','))));
        if (m_engine->lost())
            break;
        const double left = began + periodMs - double(clock.nsecsElapsed()) / 1e6;
        if (left > 0)
            waitMs(left);
    }
    return m_worst;
}

int CliRun::uploads()
{
    if (!m_options.csv.isEmpty() && !openCsv(QStringLiteral("time,temperature,humidity")))
        return refuse(QStringLiteral("无法写入文件：") + m_options.csv);
    if (!openLine())
        return Exit::Port;
    UploadFramer framer;
    connect(m_engine.get(), &LineEngine::received, this, [&](const QByteArray &bytes) {
        const QString time = isoNow();
        for (const QByteArray &record : framer.feed(bytes).records) {
            const auto r = decodeUploadRecord(record);
            if (!r)
                continue;
            report({{QStringLiteral("time"), time},
                    {QStringLiteral("temperature"), r->first},
                    {QStringLiteral("humidity"), r->second}},
                   time + QStringLiteral("  ") + r->first + QStringLiteral("  ") + r->second);
            csvRow(time + QLatin1Char(',') + r->first + QLatin1Char(',') + r->second);
        }
    });
    waitMs(m_options.seconds < 0 ? -1 : m_options.seconds * 1000);
    return Exit::Ok;
}

int CliRun::scan()
{
    const auto planned = planScan(m_options.bauds, m_options.stations, m_options.probeTimeout);
    if (const auto *refusal = std::get_if<UserMessage>(&planned))
        return refuse(refusal->text);
    if (!openLine())
        return Exit::Port;
    BusScan scan(m_engine.get(), std::get<ScanRange>(planned));
    m_scan = &scan;
    QEventLoop loop;
    int status = Exit::Ok;
    // Progress only where someone watches it: one line, rewritten.
    const bool watched = ::isatty(STDERR_FILENO) != 0;
    connect(&scan, &BusScan::progress, this, [&](const ScanProgress &p) {
        if (watched) {
            m_err << '\r' << scanProgressText(p) << QStringLiteral("    ");
            m_err.flush();
        }
    });
    connect(&scan, &BusScan::moduleFound, this, [&](const FoundModule &m) {
        if (watched)
            m_err << '\r' << QString(60, QLatin1Char(' ')) << '\r';
        QJsonObject j{{QStringLiteral("station"), m.station},
                      {QStringLiteral("baud"), m.baud},
                      {QStringLiteral("outcome"), outcomeKey(m.kind)},
                      {QStringLiteral("text"), m.status}};
        QString text = QStringLiteral("站 %1  %2 波特  ").arg(m.station).arg(m.baud);
        if (m.kind == OutcomeKind::Answered) {
            j[QStringLiteral("device")] = m.device;
            j[QStringLiteral("temperature")] = m.temperature;
            j[QStringLiteral("humidity")] = m.humidity;
            j[QStringLiteral("response_ms")] = std::round(m.responseMs * 10) / 10;
            j[QStringLiteral("quick")] = m.quick;
            text += QStringLiteral("%1  温度 %2  湿度 %3  %4 ms")
                        .arg(m.device, m.temperature, m.humidity, ms(m.responseMs));
        } else {
            text += m.status;
        }
        report(j, text);
    });
    connect(&scan, &BusScan::finished, &loop, [&](bool, const QString &error) {
        if (!error.isEmpty()) {
            m_err << error << '\n';
            status = Exit::Port;
        }
        loop.quit();
    });
    scan.start();
    if (scan.running())
        loop.exec();
    m_scan = nullptr;
    if (watched)
        m_err << '\r' << QString(60, QLatin1Char(' ')) << '\r';
    m_err.flush();
    const auto found =
        std::count_if(scan.found().begin(), scan.found().end(),
                      [](const FoundModule &m) { return m.kind == OutcomeKind::Answered; });
    report({{QStringLiteral("found"), qint64(found)}}, QStringLiteral("找到 %1 个模块").arg(found));
    return std::max(status, found > 0 ? Exit::Ok : Exit::NoReply);
}

int CliRun::snapshot()
{
    const QString path = m_options.arguments.value(0);
    if (path.isEmpty())
        return refuse(msg::noFile);
    std::optional<QList<int>> rows;
    if (!m_options.templateRows.isEmpty() && !(rows = rowList(m_options.templateRows)))
        return refuse(msg::templateRows);
    const auto station = writeStation(m_options.station);
    if (!station)
        return refuse(msg::badStation);
    // Written whole or not at all.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return refuse(msg::fileUnwritable + path);
    if (!openLine())
        return Exit::Port;
    Commissioner commissioner(*m_engine);
    const auto read = commissioner.snapshot(*station);
    if (const auto *failed = std::get_if<Outcome>(&read)) {
        report(outcomeJson(*failed), outcomeText(*failed));
        return exitStatusOf(failed->kind);
    }
    Snapshot s = std::get<Snapshot>(read);
    if (rows)
        s = templateOf(s, *rows);
    file.write(snapshotJson(s));
    if (!file.commit()) {
        m_err << msg::fileUnwritable << path << '\n';
        return Exit::Refused;
    }
    const QString kind = rows ? QStringLiteral("template") : QStringLiteral("snapshot");
    report({{QStringLiteral("file"), path},
            {QStringLiteral("kind"), kind},
            {QStringLiteral("station"), *station},
            {QStringLiteral("device"), s.device},
            {QStringLiteral("rows"), int(s.rows.size())}},
           QStringLiteral("%1 %2：站 %3  %4  %5 行")
               .arg(rows ? QStringLiteral("模板") : QStringLiteral("快照"), path)
               .arg(*station)
               .arg(s.device)
               .arg(s.rows.size()));
    return Exit::Ok;
}

int CliRun::apply()
{
    const QString path = m_options.arguments.value(0);
    if (path.isEmpty())
        return refuse(msg::noFile);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(msg::fileUnreadable + path);
    const auto parsed = parseTemplate(file.read(maxTemplateBytes + 1));
    if (const auto *refusal = std::get_if<UserMessage>(&parsed))
        return refuse(refusal->text);
    const Template t = std::get<Template>(parsed);
    const auto station = writeStation(m_options.station);
    if (!station)
        return refuse(msg::badStation);
    if (!openLine())
        return Exit::Port;
    Commissioner commissioner(*m_engine);
    const auto words = commissioner.readModule(*station);
    if (const auto *failed = std::get_if<Outcome>(&words)) {
        report(outcomeJson(*failed), msg::moduleReadFailed + outcomeText(*failed));
        return exitStatusOf(failed->kind);
    }
    int worst = Exit::Ok;
    const auto show = [&](const RowWrite &w) {
        QJsonObject j = w.result == RowResult::Same ? QJsonObject() : outcomeJson(w.outcome);
        const QString result = rowResultText(w);
        j[QStringLiteral("row")] = w.diff.row;
        j[QStringLiteral("caption")] = caption(w.diff.row);
        j[QStringLiteral("module")] = w.diff.moduleText;
        j[QStringLiteral("template")] = w.diff.templateText;
        j[QStringLiteral("result")] = w.result == RowResult::Same ? QStringLiteral("same")
                                      : w.result == RowResult::Confirmed
                                          ? QStringLiteral("confirmed")
                                          : QStringLiteral("failed");
        j[QStringLiteral("text")] = result;
        if (!w.readBack.isEmpty())
            j[QStringLiteral("readback")] = w.readBack;
        report(j, QStringLiteral("%1 %2: %3 -> %4  %5")
                      .arg(QString::number(w.diff.row), caption(w.diff.row), w.diff.moduleText,
                           w.diff.templateText, result));
        const int status = w.result != RowResult::Failed ? Exit::Ok
                           : !w.readBack.isEmpty()       ? Exit::BadReply
                                                         : exitStatusOf(w.outcome.kind);
        worst = std::max(worst, status);
    };
    const QVector<RowDiff> diffs = differences(t, std::get<RegisterWords>(words));
    for (const RowDiff &d : diffs) {
        if (d.differs)
            continue;
        show(RowWrite(d));
    }
    commissioner.apply(*station, diffs, show);
    return worst;
}

bool CliRun::openCsv(const QString &header)
{
    m_csv.setFileName(m_options.csv);
    if (!m_csv.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    csvRow(header);
    return true;
}

// Each row goes out whole and at once, so stopping leaves only whole rows.
void CliRun::csvRow(const QString &row)
{
    if (!m_csv.isOpen())
        return;
    m_csv.write((row + QLatin1Char('\n')).toUtf8());
    m_csv.flush();
}

// Runs the event loop for ms (forever when negative) or until stopped.
void CliRun::waitMs(double ms)
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

void CliRun::printStats()
{
    const auto &totals = m_engine->totals();
    QList<int> stations = totals.keys();
    std::sort(stations.begin(), stations.end());
    for (int station : stations) {
        const StationTotals &t = totals[station];
        QJsonObject j{{QStringLiteral("stats_station"), station},
                      {QStringLiteral("sent"), t.counts.sent},
                      {QStringLiteral("answered"), t.counts.answered},
                      {QStringLiteral("refused"), t.counts.refused},
                      {QStringLiteral("bad_checksum"), t.counts.badChecksum},
                      {QStringLiteral("wrong_station"), t.counts.wrongStation},
                      {QStringLiteral("incomplete"), t.counts.incomplete},
                      {QStringLiteral("no_reply"), t.counts.noReply}};
        if (t.times.count() > 0) {
            auto tenth = [](double v) { return std::round(v * 10) / 10; };
            j[QStringLiteral("last_ms")] = tenth(t.times.last());
            j[QStringLiteral("mean_ms")] = tenth(t.times.mean());
            j[QStringLiteral("p95_ms")] = tenth(t.times.p95());
            j[QStringLiteral("max_ms")] = tenth(t.times.max());
        }
        report(j, QStringLiteral("站 %1  发送 %2  应答 %3  拒绝 %4  校验错误 %5  站号不符 %6  "
                                 "不完整 %7  无应答 %8  响应 %9 / %10 / %11 / %12 ms")
                      .arg(station)
                      .arg(t.counts.sent)
                      .arg(t.counts.answered)
                      .arg(t.counts.refused)
                      .arg(t.counts.badChecksum)
                      .arg(t.counts.wrongStation)
                      .arg(t.counts.incomplete)
                      .arg(t.counts.noReply)
                      .arg(ms(t.times.last()), ms(t.times.mean()), ms(t.times.p95()),
                           ms(t.times.max())));
    }
}

} // namespace kc
