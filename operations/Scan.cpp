#include "operations/Scan.h"

#include "operations/Csv.h"
#include "operations/NumberText.h"
#include "protocol/Framing.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace kc {

std::variant<ScanRange, UserMessage> planScan(const QString &bauds, const QString &stations,
                                              const QString &probeTimeoutMs)
{
    ScanRange range;
    range.bauds.clear();
    for (const QString &item : bauds.split(QLatin1Char(','))) {
        const auto baud = wholeNumberIn(item, moduleBauds().first(), moduleBauds().last());
        if (!baud || !moduleBauds().contains(*baud))
            return UserMessage{msg::scanBauds};
        if (!range.bauds.contains(*baud))
            range.bauds.push_back(*baud);
    }
    std::sort(range.bauds.begin(), range.bauds.end());

    const auto list = numberList(stations, 1, maxScanStation);
    if (!list)
        return UserMessage{msg::scanStations};
    range.stations = *list;

    const auto timeout = wholeNumberIn(probeTimeoutMs, minTimeoutMs, maxTimeoutMs);
    if (!timeout)
        return UserMessage{msg::probeTimeoutRange};
    range.probeTimeoutMs = *timeout;
    return range;
}

Request probeRequest(int station)
{
    return Request::registerRead(station, 0, 1);
}

double probeDeadlineMs(int baud, int timeoutMs)
{
    return timeoutMs + wireMs(probeRequest(1).replyLength(), baud);
}

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

QString foundStatusText(const FoundModule &m)
{
    return m.answered() ? QStringLiteral("正常") : outcomeText(m.outcome);
}

QStringList foundModuleFields(const FoundModule &m)
{
    const auto value = [](int row, const std::optional<int> &v) {
        return v ? valueText(row, *v) : QString();
    };
    QStringList rates{QString::number(m.baud)};
    for (const int baud : m.otherBauds)
        rates << QString::number(baud);
    return {QString::number(m.station),
            rates.join(QLatin1Char(' ')),
            m.device,
            value(temperatureRow, m.temperature),
            value(humidityRow, m.humidity),
            m.outcome.responseMs < 0 ? QString() : QString::number(m.outcome.responseMs, 'f', 1),
            foundStatusText(m)};
}

QString scanCsv(const QVector<FoundModule> &modules)
{
    QString csv = QStringLiteral("station,baud,device,temperature,humidity,response_ms,status\n");
    for (const FoundModule &m : modules) {
        QStringList quoted;
        for (const QString &f : foundModuleFields(m))
            quoted << csvField(f);
        csv += quoted.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return csv;
}

QString portFailureText(ScanEnd end, const QString &port, const QString &device,
                        OpenFailure failure)
{
    if (end == ScanEnd::PortLost && failure == OpenFailure::None)
        return msg::portLost;
    if (end == ScanEnd::PortLost || end == ScanEnd::PortNotOpened)
        return openFailureText(port, device, failure);
    return {};
}

} // namespace kc
