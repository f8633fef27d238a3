// The bus scan on the simulated line: does an empty line cost its probes'
// deadlines and no more, and how soon does the quick pass find a module alone
// at 19200 baud, station 200?
//
//   bench_scan [STATIONS]   the empty-line scan covers stations 1..STATIONS (default 247)

#include "BenchSupport.h"
#include "SimProcess.h"

#include "line/BusScan.h"
#include "line/LineEngine.h"
#include "protocol/QtSerialLink.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <cstdlib>
#include <vector>

using namespace kcbench;

namespace {

constexpr int probeTimeoutMs = 100;
constexpr int runs = 5;

kc::LineEngine *engineOn(const SimProcess &sim)
{
    auto *link = new kc::QtSerialLink(sim.ptyPath());
    auto *engine = new kc::LineEngine(link);
    engine->open();
    return engine;
}

// Runs the scan until it ends or stopWhen says so; milliseconds to that moment.
double timeScan(kc::BusScan &scan, const std::function<bool()> &stopWhen = {})
{
    QEventLoop loop;
    QObject::connect(&scan, &kc::BusScan::finished, &loop, &QEventLoop::quit);
    QObject::connect(&scan, &kc::BusScan::moduleFound, &loop, [&] {
        if (stopWhen && stopWhen())
            loop.quit();
    });
    const std::int64_t start = monotonicNs();
    scan.start();
    loop.exec();
    return double(monotonicNs() - start) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int stations = argc > 1 ? std::atoi(argv[1]) : 247;

    // An empty line: each rate gets the station-250 read and then every station,
    // each probe waiting out its timeout and the 7-byte reply's time on the wire.
    {
        SimProcess sim({"--fixed", "--silent"});
        std::unique_ptr<kc::LineEngine> engine(engineOn(sim));
        kc::ScanRange range;
        for (int s = 1; s <= stations; ++s)
            range.stations << s;
        range.probeTimeoutMs = probeTimeoutMs;
        kc::BusScan scan(engine.get(), range);
        int probes = 0;
        QObject::connect(&scan, &kc::BusScan::progress,
                         [&](const kc::ScanProgress &p) { probes = p.probesDone; });
        const double elapsed = timeScan(scan);
        double deadlines = 0;
        for (int baud : {2400, 4800, 9600, 19200, 38400})
            deadlines += (1 + stations) * (probeTimeoutMs + 7 * 10 * 1000.0 / baud);
        printLine(QStringLiteral("scan_empty bauds=5 stations=%1 probe_timeout_ms=%2 probes=%3 "
                                 "found=%4 elapsed_ms=%5 deadlines_ms=%6 ratio=%7")
                      .arg(stations)
                      .arg(probeTimeoutMs)
                      .arg(probes)
                      .arg(scan.found().size())
                      .arg(num(elapsed, 1))
                      .arg(num(deadlines, 1))
                      .arg(num(elapsed / deadlines, 4)));
    }

    // One module at 19200 baud, station 200: found by the quick pass after
    // three rates that stay silent; the time is to its row, description included.
    {
        SimProcess sim({"--fixed", "--address", "200", "--baud", "19200"});
        std::vector<double> times;
        int found = 0;
        for (int run = 0; run < runs; ++run) {
            std::unique_ptr<kc::LineEngine> engine(engineOn(sim));
            kc::ScanRange range;
            for (int s = 1; s <= kc::maxScanStation; ++s)
                range.stations << s;
            kc::BusScan scan(engine.get(), range);
            const double ms = timeScan(scan, [&] {
                const kc::FoundModule &m = scan.found().last();
                found += m.station == 200 && m.baud == 19200 && m.quick;
                return true;
            });
            times.push_back(ms);
            scan.cancel();
            QEventLoop wait;
            QObject::connect(&scan, &kc::BusScan::finished, &wait, &QEventLoop::quit);
            if (scan.running())
                wait.exec();
        }
        const Spread s = spread(times);
        printLine(QStringLiteral("scan_find baud=19200 station=200 runs=%1 found_by_quick_pass=%2 "
                                 "median_ms=%3 max_ms=%4")
                      .arg(runs)
                      .arg(found)
                      .arg(num(s.p50, 1))
                      .arg(num(s.max, 1)));
    }
    return 0;
}
