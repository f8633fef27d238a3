// diagnose: a short battery against one module, then what is wrong with the
// line and what to do, as text or one JSON object.
#include "cli/CliSession.h"

#include "line/Diagnosis.h"
#include "line/LineEngine.h"
#include "operations/RegisterMap.h"

#include <QEventLoop>
#include <QJsonArray>

#include <cmath>
#include <unistd.h>

namespace kc {

namespace {

// Clean and notes 0; each fault its own status from 10 on, worse ones higher,
// apart from the statuses a single request can end in.
constexpr int firstFindingStatus = 9;

double tenth(double v)
{
    return std::round(v * 10) / 10;
}

QJsonObject reportJson(const DiagnosisReport &r, int status)
{
    QJsonArray rates, findings;
    for (const RateSummary &s : rateSummaries(r.station, r.probes)) {
        QJsonObject j{{QStringLiteral("baud"), s.baud},
                      {QStringLiteral("reads"), s.reads},
                      {QStringLiteral("answered"), s.answered},
                      {QStringLiteral("address_reads"), s.addressReads},
                      {QStringLiteral("address_answered"), s.addressAnswered}};
        if (s.times.count() > 0) {
            j[QStringLiteral("p50_ms")] = tenth(s.times.percentile(50));
            j[QStringLiteral("max_ms")] = tenth(s.times.max());
        }
        rates << j;
    }
    for (const Finding &f : r.findings) {
        QJsonArray bauds;
        for (const int b : f.bauds)
            bauds << b;
        QJsonObject j{{QStringLiteral("finding"), findingKey(f.kind)},
                      {QStringLiteral("note"), f.note},
                      {QStringLiteral("count"), f.count},
                      {QStringLiteral("of"), f.of},
                      {QStringLiteral("bauds"), bauds},
                      {QStringLiteral("examples"), QJsonArray::fromStringList(f.examples)},
                      {QStringLiteral("title"), findingTitle(f)},
                      {QStringLiteral("evidence"), findingEvidence(f, r.timeoutMs)},
                      {QStringLiteral("advice"), findingAdvice(f, r.station, r.baud)}};
        if (f.value >= 0)
            j[QStringLiteral("value")] = f.value;
        if (f.slowestMs >= 0)
            j[QStringLiteral("slowest_ms")] = tenth(f.slowestMs);
        findings << j;
    }
    return {{QStringLiteral("station"), r.station},
            {QStringLiteral("baud"), r.baud},
            {QStringLiteral("timeout_ms"), r.timeoutMs},
            {QStringLiteral("probes"), int(r.probes.size())},
            {QStringLiteral("elapsed_ms"), tenth(r.elapsedMs)},
            {QStringLiteral("cancelled"), r.cancelled},
            {QStringLiteral("status"), status},
            {QStringLiteral("rates"), rates},
            {QStringLiteral("findings"), findings}};
}

} // namespace

int runDiagnose(CliSession &s)
{
    const CliOptions &o = s.options();
    const auto read = s.accepted(planRegisterRead(
        {o.station, QStringLiteral("3"), QStringLiteral("0"), QString::number(registerCount)}));
    if (!read)
        return Exit::Refused;
    if (!s.openLine())
        return Exit::Port;
    LineDiagnosis diagnosis(s.engine(), read->station, o.allRates);
    s.onInterrupt([&diagnosis] { diagnosis.cancel(); });
    // Progress only where someone watches it: one line, rewritten.
    const bool watched = ::isatty(STDERR_FILENO) != 0;
    QObject::connect(&diagnosis, &LineDiagnosis::progress, &s,
                     [&](int done, int total, double msLeft) {
                         if (!watched)
                             return;
                         s.err() << '\r' << diagnosisProgressText(done, total, msLeft) << "    ";
                         s.err().flush();
                     });
    QEventLoop loop;
    int status = Exit::Ok;
    QObject::connect(&diagnosis, &LineDiagnosis::finished, &loop, [&](ScanEnd end) {
        if (end == ScanEnd::PortLost || end == ScanEnd::PortNotOpened) {
            s.err() << (watched ? QStringLiteral("\n") : QString())
                    << portFailureText(end, s.options().port, s.engine()->link()->device(),
                                       s.engine()->link()->lastFailure())
                    << '\n';
            status = Exit::Port;
        }
        loop.quit();
    });
    diagnosis.start();
    if (diagnosis.running())
        loop.exec();
    s.onInterrupt({});
    if (watched)
        s.err() << '\r' << QString(40, QLatin1Char(' ')) << '\r';
    s.err().flush();
    const DiagnosisReport &report = diagnosis.report();
    int worst = 0;
    for (const Finding &f : report.findings)
        worst = std::max(worst, findingRank(f));
    if (status == Exit::Ok && worst > 0)
        status = firstFindingStatus + worst;
    s.out().result(reportJson(report, status), diagnosisReportText(report).trimmed());
    return status;
}

} // namespace kc
