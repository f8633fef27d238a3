// The line doctor against the simulated line.
//   listen SECONDS  another master polling two modules back to back at 38400 baud,
//                   paced as on a real line, heard for SECONDS (then to the end of an
//                   exchange): frames decoded against frames the simulator sent,
//                   exchanges judged otherwise than the simulator answered, CPU per
//                   frame, the line's use
//   diagnose RUNS   the diagnosis at every rate on a silent line (every probe waits
//                   out its deadline) and on a clean one: its time against the sum
//                   of its probes' deadlines

#include "BenchSupport.h"
#include "SimProcess.h"

#include "line/Diagnosis.h"
#include "line/LineEngine.h"
#include "line/ListenFramer.h"
#include "protocol/QtSerialLink.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdlib>
#include <memory>
#include <vector>

using namespace kcbench;

namespace {

std::unique_ptr<kc::LineEngine> engineOn(const SimProcess &sim, int baud)
{
    auto engine = std::make_unique<kc::LineEngine>(new kc::QtSerialLink(sim.ptyPath()));
    engine->setBaud(baud);
    engine->open();
    return engine;
}

int listenMode(double seconds)
{
    const int baud = 38400;
    SimProcess sim(QStringList{"--fixed", "--stations", "1,2", "--master-poll", "1"} +
                   pacedLineArguments(baud));
    long long requests = 0, replies = 0, wrong = 0, deliveries = 0, bytes = 0, noise = 0;
    SimProcess::Stats sent;
    double cpu = 0, heardMs = 0;
    {
        std::unique_ptr<kc::LineEngine> engine = engineOn(sim, baud);
        kc::ListenFramer listener(engine.get());
        QObject::connect(engine.get(), &kc::LineEngine::received, [&](const QByteArray &b) {
            ++deliveries;
            bytes += b.size();
        });
        QEventLoop loop;
        long long last = -1; // the simulator's count of requests when the time was up
        QObject::connect(&listener, &kc::ListenFramer::exchange, [&](const kc::HeardExchange &x) {
            if (last >= 0 && requests == last)
                return loop.quit();
            ++requests;
            const bool answered = x.outcome.answered();
            replies += answered;
            // Wrong: a module that did not answer, or the station nobody has that did.
            wrong += answered != (x.station() != 99);
        });
        const double cpuBefore = cpuSeconds();
        const std::int64_t start = monotonicNs();
        // Each of its requests is counted with its reply when both are queued: the
        // frames sent by then are compared with the exchanges heard up to them.
        QTimer::singleShot(int(seconds * 1000), &loop, [&] {
            sent = sim.stats();
            last = sent.masterRequests;
        });
        loop.exec();
        cpu = cpuSeconds() - cpuBefore;
        heardMs = double(monotonicNs() - start) / 1e6;
        noise = listener.traffic().noiseBytes() + listener.traffic().unpaired();
    }
    const long long frames = sent.masterRequests + sent.masterReplies, decoded = requests + replies;
    printLine(QStringLiteral("listen baud=%1 seconds=%2 frames_sent=%3 frames_decoded=%4 "
                             "decoded_over_sent=%5 wrong_outcomes=%6 noise_or_unpaired=%7 "
                             "deliveries_per_frame=%8 cpu_us_per_frame=%9 line_use=%10")
                  .arg(baud)
                  .arg(num(seconds, 0))
                  .arg(frames)
                  .arg(decoded)
                  .arg(num(frames > 0 ? double(decoded) / double(frames) : 0, 4))
                  .arg(wrong)
                  .arg(noise)
                  .arg(num(decoded > 0 ? double(deliveries) / double(decoded) : 0, 1))
                  .arg(num(decoded > 0 ? cpu * 1e6 / double(decoded) : 0, 1))
                  .arg(num(double(bytes) * 10 * 1000 / baud / heardMs, 3)));
    return 0;
}

// Milliseconds the diagnosis took and its probes' deadlines added up.
std::pair<double, double> timeDiagnosis(const SimProcess &sim)
{
    std::unique_ptr<kc::LineEngine> engine = engineOn(sim, 9600);
    engine->setTimeout(100);
    kc::LineDiagnosis diagnosis(engine.get(), 1, true);
    QEventLoop loop;
    QObject::connect(&diagnosis, &kc::LineDiagnosis::finished, &loop, &QEventLoop::quit);
    const std::int64_t start = monotonicNs();
    diagnosis.start();
    if (diagnosis.running())
        loop.exec();
    return {double(monotonicNs() - start) / 1e6, diagnosis.deadlinesMs()};
}

int diagnoseMode(int runs)
{
    for (const bool silent : {true, false}) {
        SimProcess sim(silent ? QStringList{"--fixed", "--silent"} : QStringList{"--fixed"});
        std::vector<double> ratios;
        double elapsed = 0, deadlines = 0;
        for (int run = 0; run < runs; ++run) {
            const auto [ms, sum] = timeDiagnosis(sim);
            ratios.push_back(ms / sum);
            elapsed = ms;
            deadlines = sum;
        }
        const Spread r = spread(ratios);
        printLine(QStringLiteral("diagnose_all_rates line=%1 probes=22 timeout_ms=100 runs=%2 "
                                 "last_elapsed_ms=%3 deadlines_ms=%4 ratio_p50=%5 ratio_max=%6")
                      .arg(silent ? "silent" : "clean")
                      .arg(runs)
                      .arg(num(elapsed, 1), num(deadlines, 1), num(r.p50, 4), num(r.max, 4)));
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLatin1(argv[1]) : QString();
    const double amount = argc > 2 ? std::atof(argv[2]) : 0;
    if (mode == QLatin1String("listen"))
        return listenMode(amount > 0 ? amount : 60);
    if (mode == QLatin1String("diagnose"))
        return diagnoseMode(amount > 0 ? int(amount) : 5);
    std::fprintf(stderr, "usage: bench_line_doctor listen SECONDS | diagnose RUNS\n");
    return 2;
}
