// poll and uploads: rows for as long as asked or until Ctrl+C, each on standard
// output and, when asked, in a CSV file.
#include "cli/CliSession.h"

#include "line/LineEngine.h"
#include "operations/NumberText.h"
#include "operations/RegisterMap.h"
#include "operations/Replies.h"
#include "operations/TimeText.h"
#include "protocol/Framing.h"

#include <QElapsedTimer>
#include <QJsonArray>

namespace kc {

namespace {

QString ms(double value)
{
    return value < 0 ? QString() : QString::number(value, 'f', 1);
}

} // namespace

int runPoll(CliSession &s)
{
    const CliOptions &o = s.options();
    if (o.period.isEmpty())
        return s.refuse(msg::cli::periodMissing);
    int periodMs = 0;
    if (o.period.trimmed() != QLatin1String("0")) {
        const auto period = planPolling(o.period);
        if (const auto *refusal = std::get_if<UserMessage>(&period))
            return s.refuse(refusal->text);
        periodMs = std::get<int>(period);
    }
    const auto planned =
        s.accepted(planRegisterRead({o.station, QStringLiteral("3"), o.start, o.registersToRead()}));
    if (!planned)
        return Exit::Refused;
    const Request request = *planned;
    QStringList header = {QStringLiteral("time"), QStringLiteral("cycle"),
                          QStringLiteral("outcome"), QStringLiteral("response_ms")};
    for (int k = 0; k < request.count && request.start + k < registerCount; ++k)
        header << QStringLiteral("r%1").arg(request.start + k);
    CsvFile csv;
    if (!o.csv.isEmpty() && !csv.open(o.csv))
        return s.refuse(csv.error());
    if (csv.isOpen() && !csv.write(header)) {
        s.err() << csv.error() << '\n';
        return Exit::File;
    }
    if (!s.openLine())
        return Exit::Port;
    QElapsedTimer clock;
    clock.start();
    for (long long cycle = 1; !s.stopped() && (o.cycles < 0 || cycle <= o.cycles); ++cycle) {
        const double began = double(clock.nsecsElapsed()) / 1e6;
        const QString time = isoTime(QDateTime::currentDateTime());
        const Outcome outcome = s.transact(request);
        QStringList values, labelled;
        for (const RegisterValue &v : registerValues(outcome)) {
            values << v.text();
            labelled << QStringLiteral("%1=%2").arg(v.row).arg(v.text());
        }
        QJsonObject j = Output::outcomeJson(outcome);
        j[QStringLiteral("cycle")] = cycle;
        j[QStringLiteral("time")] = time;
        j[QStringLiteral("values")] = QJsonArray::fromStringList(values);
        // Each value after its row's number, as the read's rows are numbered.
        s.out().result(j, QStringLiteral("%1  周期 %2  %3  %4")
                              .arg(time)
                              .arg(cycle)
                              .arg(outcomeText(outcome), labelled.join(QLatin1Char(' ')))
                              .trimmed());
        if (csv.isOpen() &&
            !csv.write(QStringList{time, QString::number(cycle), outcomeKey(outcome.kind),
                                   ms(outcome.responseMs)} +
                       values)) {
            s.err() << csv.error() << '\n';
            return Exit::File;
        }
        if (s.engine()->lost())
            break;
        const double left = began + periodMs - double(clock.nsecsElapsed()) / 1e6;
        if (left > 0)
            s.waitMs(left);
    }
    return s.worst();
}

int runUploads(CliSession &s)
{
    const CliOptions &o = s.options();
    CsvFile csv;
    if (!o.csv.isEmpty() && !csv.open(o.csv))
        return s.refuse(csv.error());
    if (csv.isOpen() && !csv.write({QStringLiteral("time"), QStringLiteral("temperature"),
                                    QStringLiteral("humidity")})) {
        s.err() << csv.error() << '\n';
        return Exit::File;
    }
    if (!s.openLine())
        return Exit::Port;
    UploadFramer framer;
    bool fileFailed = false;
    QObject::connect(s.engine(), &LineEngine::received, &s, [&](const QByteArray &bytes) {
        const QString time = isoTime(QDateTime::currentDateTime());
        for (const QByteArray &record : framer.feed(bytes).records) {
            const auto r = decodeUploadRecord(record);
            if (!r || fileFailed)
                continue;
            s.out().result({{QStringLiteral("time"), time},
                            {QStringLiteral("temperature"), r->first},
                            {QStringLiteral("humidity"), r->second}},
                           time + QStringLiteral("  ") + r->first + QStringLiteral("  ") +
                               r->second);
            if (csv.isOpen() && !csv.write({time, r->first, r->second})) {
                s.err() << csv.error() << '\n';
                fileFailed = true;
                s.interrupt();
            }
        }
    });
    s.waitMs(o.seconds < 0 ? -1 : o.seconds * 1000);
    return fileFailed ? Exit::File : Exit::Ok;
}

} // namespace kc
