// scan: the modules on the line, one result each as it is found.
#include "cli/CliSession.h"

#include "line/BusScan.h"
#include "line/LineEngine.h"
#include "operations/RegisterMap.h"
#include "protocol/PortNaming.h"

#include <QEventLoop>
#include <QJsonArray>

#include <cmath>
#include <unistd.h>

namespace kc {

namespace {

QJsonObject foundJson(const FoundModule &m)
{
    QJsonArray bauds{m.baud};
    for (const int baud : m.otherBauds)
        bauds.append(baud);
    QJsonObject j{{QStringLiteral("station"), m.station},
                  {QStringLiteral("baud"), m.baud},
                  {QStringLiteral("bauds"), bauds},
                  {QStringLiteral("outcome"), outcomeKey(m.outcome.kind)},
                  {QStringLiteral("text"), foundStatusText(m)}};
    if (m.answered()) {
        j[QStringLiteral("device")] = m.device;
        j[QStringLiteral("temperature")] =
            m.temperature ? valueText(temperatureRow, *m.temperature) : QString();
        j[QStringLiteral("humidity")] =
            m.humidity ? valueText(humidityRow, *m.humidity) : QString();
        j[QStringLiteral("response_ms")] = std::round(m.outcome.responseMs * 10) / 10;
        j[QStringLiteral("quick")] = m.quick;
    }
    return j;
}

// "站 7  9600 19200 波特  KC4420P-007  温度 25.34  湿度 65.20  4.2 ms"
QString foundText(const FoundModule &m)
{
    const QStringList f = foundModuleFields(m);
    QString text = QStringLiteral("站 %1  %2 波特  ").arg(f[0], f[1]);
    if (!m.answered())
        return text + f[6];
    return text + QStringLiteral("%1  温度 %2  湿度 %3  %4 ms").arg(f[2], f[3], f[4], f[5]);
}

} // namespace

int runScan(CliSession &s)
{
    const CliOptions &o = s.options();
    QStringList every;
    for (const int baud : moduleBauds())
        every << QString::number(baud);
    // A network line's rate is the device server's: --bauds has nothing to choose.
    const bool network = networkLine(o.port).has_value();
    auto planned = planScan(o.bauds.isEmpty() || network ? every.join(QLatin1Char(',')) : o.bauds,
                            o.stations, o.probeTimeout);
    if (const auto *refusal = std::get_if<UserMessage>(&planned))
        return s.refuse(refusal->text);
    ScanRange range = std::get<ScanRange>(planned);
    range.singleModule = o.singleModule;
    if (!s.openLine())
        return Exit::Port;
    if (network) {
        s.err() << msg::scanNetworkLine << '\n';
        s.err().flush();
    }
    BusScan scan(s.engine(), range);
    s.onInterrupt([&scan] { scan.cancel(); });
    QEventLoop loop;
    int status = Exit::Ok;
    // Progress only where someone watches it: one line, rewritten.
    const bool watched = ::isatty(STDERR_FILENO) != 0;
    const auto clearProgress = [&] {
        if (watched)
            s.err() << '\r' << QString(60, QLatin1Char(' ')) << '\r';
    };
    QObject::connect(&scan, &BusScan::progress, &s, [&](const ScanProgress &p) {
        if (watched) {
            s.err() << '\r' << scanProgressText(p) << QStringLiteral("    ");
            s.err().flush();
        }
    });
    QObject::connect(&scan, &BusScan::finished, &loop, [&](ScanEnd end) {
        if (end == ScanEnd::PortLost || end == ScanEnd::PortNotOpened) {
            s.err() << portFailureText(end, s.options().port, s.engine()->link()->device(),
                                       s.engine()->link()->lastFailure())
                    << '\n';
            status = Exit::Port;
        }
        loop.quit();
    });
    scan.start();
    if (scan.running())
        loop.exec();
    s.onInterrupt({});
    clearProgress();
    s.err().flush();
    // Once the scan is over: a module that answered at several rates is one line.
    for (const FoundModule &m : scan.found())
        s.out().result(foundJson(m), foundText(m));
    const auto found = std::count_if(scan.found().begin(), scan.found().end(),
                                     [](const FoundModule &m) { return m.answered(); });
    s.out().result({{QStringLiteral("found"), qint64(found)}},
                   QStringLiteral("找到 %1 个模块").arg(found));
    return std::max(status, found > 0 ? Exit::Ok : Exit::NoReply);
}

} // namespace kc
