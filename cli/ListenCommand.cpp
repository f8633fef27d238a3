// listen: another master's traffic, decoded, without sending a byte; each
// station's totals when it stops.
#include "cli/CliSession.h"

#include "line/LineEngine.h"
#include "line/ListenFramer.h"
#include "operations/Replies.h"
#include "operations/TimeText.h"

#include <QJsonArray>

#include <cmath>

namespace kc {

namespace {

double tenth(double v)
{
    return std::round(v * 10) / 10;
}

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QJsonObject exchangeJson(const HeardExchange &x, const QString &time)
{
    QJsonObject j{{QStringLiteral("time"), time},
                  {QStringLiteral("station"), x.station()},
                  {QStringLiteral("function"), x.function()},
                  {QStringLiteral("request"), hex(x.request)},
                  {QStringLiteral("reply"), hex(x.reply)},
                  {QStringLiteral("asked"), heardRequestText(x)},
                  {QStringLiteral("outcome"), outcomeKey(x.outcome.kind)}};
    if (x.outcome.responseMs >= 0)
        j[QStringLiteral("response_ms")] = tenth(x.outcome.responseMs);
    if (x.outcome.kind == OutcomeKind::Refused)
        j[QStringLiteral("exception")] = x.outcome.exceptionCode;
    QJsonArray registers;
    for (const RegisterValue &v : heardRegisters(x))
        registers << QJsonObject{{QStringLiteral("row"), v.row},
                                 {QStringLiteral("word"), v.word},
                                 {QStringLiteral("value"), v.text()}};
    if (!registers.isEmpty())
        j[QStringLiteral("registers")] = registers;
    if (const auto device = deviceTextOf(x.outcome))
        j[QStringLiteral("device")] = *device;
    return j;
}

} // namespace

int runListen(CliSession &s)
{
    if (!s.openLine())
        return Exit::Port;
    ListenFramer listener(s.engine());
    QObject::connect(&listener, &ListenFramer::exchange, &s, [&s](const HeardExchange &x) {
        const QString time = isoTime(QDateTime::currentDateTime());
        s.out().result(exchangeJson(x, time), time + QStringLiteral("  ") + exchangeText(x));
    });
    const double seconds = s.options().seconds;
    s.waitMs(seconds < 0 ? -1 : seconds * 1000);
    listener.finish();
    const HeardTraffic &traffic = listener.traffic();
    for (auto it = traffic.stations().cbegin(); it != traffic.stations().cend(); ++it) {
        const OutcomeTotals &t = it.value();
        QJsonObject j{{QStringLiteral("listen_station"), it.key()},
                      {QStringLiteral("requests"), t.sent},
                      {QStringLiteral("answered"), t.answered},
                      {QStringLiteral("exceptions"), t.refused},
                      {QStringLiteral("no_answer"), t.noReply},
                      {QStringLiteral("bad_checksum"), t.badChecksum},
                      {QStringLiteral("other"), t.wrongStation + t.mismatch + t.incomplete}};
        if (t.times.count() > 0) {
            j[QStringLiteral("p50_ms")] = tenth(t.times.percentile(50));
            j[QStringLiteral("p95_ms")] = tenth(t.times.p95());
        }
        s.out().result(j, listenTotalsText(it.key(), t));
    }
    s.out().result({{QStringLiteral("unpaired_replies"), traffic.unpaired()},
                    {QStringLiteral("noise_bytes"), traffic.noiseBytes()}},
                   listenNoiseText(traffic));
    return s.engine()->lost() ? Exit::Port : Exit::Ok;
}

} // namespace kc
