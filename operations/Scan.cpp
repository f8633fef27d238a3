#include "operations/Scan.h"

#include "operations/Csv.h"

#include "operations/NumberText.h"
#include "protocol/Framing.h"

#include <QStringList>

#include <algorithm>
#include <optional>

namespace kc {

const QList<int> &moduleBauds()
{
    static const QList<int> bauds{2400, 4800, 9600, 19200, 38400};
    return bauds;
}

std::variant<ScanRange, UserMessage> planScan(const QString &bauds, const QString &stations,
                                              const QString &probeTimeoutMs)
{
    ScanRange range;
    range.bauds.clear();
    for (const QString &item : bauds.split(QLatin1Char(','))) {
        const auto baud = wholeNumberIn(item, 2400, 38400);
        if (!baud || !moduleBauds().contains(*baud))
            return UserMessage{msg::scanBauds};
        if (!range.bauds.contains(*baud))
            range.bauds.push_back(*baud);
    }
    std::sort(range.bauds.begin(), range.bauds.end());

    const QStringList ends = stations.split(QLatin1Char('-'));
    const auto first = wholeNumberIn(ends.first(), 1, maxScanStation);
    const auto last = ends.size() == 2 ? wholeNumberIn(ends.last(), 1, maxScanStation) : first;
    if (ends.size() > 2 || !first || !last || *first > *last)
        return UserMessage{msg::scanStations};
    range.first = *first;
    range.last = *last;

    const auto timeout = wholeNumberIn(probeTimeoutMs, minTimeoutMs, maxTimeoutMs);
    if (!timeout)
        return UserMessage{msg::probeTimeoutRange};
    range.probeTimeoutMs = *timeout;
    return range;
}

RequestPlan planProbe(int station)
{
    return std::get<RequestPlan>(planRegisterRead(
        {QString::number(station), QStringLiteral("3"), QStringLiteral("0"), QStringLiteral("1")}));
}

double probeDeadlineMs(int baud, int timeoutMs)
{
    return timeoutMs + wireMs(planProbe(1).threshold, baud);
}

QString scanCsv(const QVector<FoundModule> &modules)
{
    QString csv = QStringLiteral("station,baud,device,temperature,humidity,response_ms,status\n");
    for (const FoundModule &m : modules) {
        const QStringList fields{QString::number(m.station),
                                 QString::number(m.baud),
                                 m.device,
                                 m.temperature,
                                 m.humidity,
                                 m.responseMs < 0 ? QString()
                                                  : QString::number(m.responseMs, 'f', 1),
                                 m.status};
        QStringList quoted;
        for (const QString &f : fields)
            quoted << csvField(f);
        csv += quoted.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return csv;
}

} // namespace kc
