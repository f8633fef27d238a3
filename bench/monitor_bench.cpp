// The monitor and the trend, in the whole window program (offscreen): the main
// window, the monitor window polling simulated modules on pseudo-terminals paced
// like a 19200 baud line, the data log on. One mode per run, one line each.
//
//   bench_monitor wire SECONDS    forty modules on one line: rate against the wire, CPU
//   bench_monitor two SECONDS     two lines of forty, alone and at once
//   bench_monitor trend           redraw time and memory, 7 million samples against 1,000
//   bench_monitor sync SECONDS    the data log put on the disk a second after its first
//                                 unsynced row, against every row before write() returns

#include "BenchSupport.h"
#include "CountingSink.h"
#include "SimProcess.h"
#include "WireLimit.h"

#include "line/Monitor.h"
#include "line/TrendHistory.h"
#include "operations/DataLog.h"
#include "protocol/QtSerialLink.h"
#include "ui/MainWindow.h"
#include "ui/MonitorWindow.h"
#include "ui/TrendWindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <memory>

using namespace kcbench;

namespace {

constexpr int baud = 19200;
constexpr int modules = 40;

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Requests that came to an end on the rows [first, first + count).
long long polls(const kc::Monitor &m, int first, int count)
{
    long long n = 0;
    for (int r = first; r < first + count; ++r)
        n += m.module(r).answered + m.module(r).noReply + m.module(r).errors;
    return n;
}

// The whole program watching `lines` lines of forty modules.
struct Program
{
    CountingSink sink;
    QTemporaryDir logs;
    kc::PortClaims claims;
    kc::MainWindow window{&claims, &sink};
    kc::Monitor *monitor;

    explicit Program(const QStringList &lines)
    {
        kc::MonitorWindow *w = window.monitorWindow();
        if (qEnvironmentVariableIsEmpty("KC_BENCH_HIDDEN"))
            w->show();
        monitor = w->monitor();
        monitor->clear();
        for (const QString &line : lines)
            monitor->add(line, QStringLiteral("1-%1").arg(modules), baud);
        window.recorder()->log()->setFolder(logs.path());
        window.recorder()->setLogging(true);
    }
    // Polls per second of each line, and CPU seconds, over `seconds` once every
    // module's device text is read.
    struct Rates
    {
        QVector<double> cyclesPerSecond;
        double cpuSeconds = 0;
        double cycles = 0;
    };
    Rates measure(const QStringList &lines, double seconds)
    {
        monitor->start();
        for (int i = 0; i < 200 &&
                        [&] {
                            for (const QString &l : lines) {
                                if (monitor->poller(l)->cycles() < 1)
                                    return true;
                            }
                            return false;
                        }();
             ++i)
            runFor(50);
        QVector<long long> before;
        for (int l = 0; l < lines.size(); ++l)
            before << polls(*monitor, l * modules, modules);
        const double cpu = kcbench::cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        runFor(int(seconds * 1000));
        Rates r;
        r.cpuSeconds = kcbench::cpuSeconds() - cpu;
        const double elapsed = double(wall.nsecsElapsed()) / 1e9;
        for (int l = 0; l < lines.size(); ++l) {
            const double cycles =
                double(polls(*monitor, l * modules, modules) - before[l]) / modules;
            r.cyclesPerSecond << cycles / elapsed;
            r.cycles += cycles;
        }
        monitor->stop();
        return r;
    }
    // The main window's own polling of station 1 ("循环", 50 ms): CPU per answered cycle.
    double mainWindowCpuPerCycle(double seconds)
    {
        window.findChild<QLineEdit *>(QStringLiteral("txtTimerSet"))->setText(QStringLiteral("50"));
        const long long answered = window.totals().answered;
        const double cpu = kcbench::cpuSeconds();
        window.findChild<QPushButton *>(QStringLiteral("cmdOneM"))->click();
        runFor(int(seconds * 1000));
        window.findChild<QPushButton *>(QStringLiteral("cmdStopOnce"))->click();
        return (kcbench::cpuSeconds() - cpu) / double(window.totals().answered - answered);
    }
};

QStringList pacedSim(const QString &link)
{
    return QStringList{QStringLiteral("--stations"), QStringLiteral("1-%1").arg(modules),
                       QStringLiteral("--fixed"), QStringLiteral("--link"), link}
           << pacedLineArguments(baud);
}

double wireCyclesPerSecond()
{
    return 1000.0 / (modules * wireCycle(baud).totalMs);
}

int wireMode(double seconds)
{
    QTemporaryDir dir;
    const QString line = dir.filePath(QStringLiteral("line"));
    SimProcess sim(pacedSim(line));
    if (!sim.ready())
        return 1;
    // The main window starts on the same line, gives it up while the monitor runs, and
    // polls it itself afterwards.
    qputenv("KC4420_COM1", line.toLocal8Bit());
    Program program({line});
    const Program::Rates r = program.measure({line}, seconds);
    const double mainCycle = program.mainWindowCpuPerCycle(std::min(seconds, 20.0));
    const double wire = wireCyclesPerSecond();
    printLine(QStringLiteral("monitor_wire modules=%1 baud=%2 seconds=%3 wire_cycles_per_s=%4 "
                             "cycles_per_s=%5 ratio=%6 cpu_ms_per_cycle=%7 cpu_us_per_poll=%8 "
                             "cpu_percent=%9 main_window_cpu_us_per_cycle=%10 messages=%11")
                  .arg(modules)
                  .arg(baud)
                  .arg(num(seconds, 0), num(wire, 4), num(r.cyclesPerSecond[0], 4),
                       num(r.cyclesPerSecond[0] / wire, 4), num(1000 * r.cpuSeconds / r.cycles, 2),
                       num(1e6 * r.cpuSeconds / (r.cycles * modules), 1),
                       num(100 * r.cpuSeconds / seconds, 2))
                  .arg(num(1e6 * mainCycle, 1))
                  .arg(program.sink.count));
    return 0;
}

int twoMode(double seconds)
{
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("lineA")),
                  b = dir.filePath(QStringLiteral("lineB"));
    SimProcess simA(pacedSim(a)), simB(pacedSim(b));
    if (!simA.ready() || !simB.ready())
        return 1;
    Program program({a, b});
    // Each line alone first: the other's modules are in the list but its port is not polled.
    const double aloneA = [&] {
        Program one({a});
        return one.measure({a}, seconds).cyclesPerSecond[0];
    }();
    const double aloneB = [&] {
        Program one({b});
        return one.measure({b}, seconds).cyclesPerSecond[0];
    }();
    const Program::Rates both = program.measure({a, b}, seconds);
    printLine(QStringLiteral("monitor_two_lines modules_per_line=%1 baud=%2 seconds=%3 "
                             "wire_cycles_per_s=%4 a_alone=%5 b_alone=%6 a_together=%7 "
                             "b_together=%8 a_ratio=%9 b_ratio=%10")
                  .arg(modules)
                  .arg(baud)
                  .arg(num(seconds, 0), num(wireCyclesPerSecond(), 4), num(aloneA, 4),
                       num(aloneB, 4), num(both.cyclesPerSecond[0], 4),
                       num(both.cyclesPerSecond[1], 4), num(both.cyclesPerSecond[0] / aloneA, 4),
                       num(both.cyclesPerSecond[1] / aloneB, 4)));
    return 0;
}

// A day at one sample a second for forty modules (two series each), or a
// store of 1,000 samples a series, drawn whole in a 1000 x 600 window showing
// four modules; the median of `draws` redraws, each painted.
struct TrendRun
{
    double redrawMs = 0;
    qint64 samples = 0;
    std::int64_t heapBytes = 0;
    std::size_t storeBytes = 0;
    qsizetype points = 0;
};

TrendRun trendRun(int perSeries, int draws)
{
    CountingSink sink;
    const std::int64_t heapBefore = kcbench::heapBytes();
    auto store = std::make_unique<kc::TrendStore>();
    const qint64 end = QDateTime::currentMSecsSinceEpoch();
    const qint64 start = end - qint64(perSeries) * 1000;
    QStringList keys;
    std::uint32_t noise = 12345;
    QVector<double> temperature(modules, 25), humidity(modules, 60);
    for (int i = 0; i < perSeries; ++i) {
        for (int m = 0; m < modules; ++m) {
            noise = noise * 1664525u + 1013904223u;
            temperature[m] += double(int(noise >> 28) - 8) / 100;
            humidity[m] += double(int((noise >> 24) & 15) - 8) / 50;
            store->add(kc::TrendStore::sourceKey(QStringLiteral("COM1"), m + 1),
                       kc::TrendOrigin{QStringLiteral("COM1"), m + 1}, start + qint64(i) * 1000,
                       temperature[m], humidity[m], kc::AlarmLimits{5000, -1000, 9000, 1000});
        }
    }
    TrendRun r;
    r.heapBytes = kcbench::heapBytes() - heapBefore;
    r.samples = store->samples();
    r.storeBytes = store->bytes();
    kc::TrendWindow trend(store.get(), &sink);
    trend.resize(1000, 600);
    trend.show();
    trend.setMonitorSources(store->keys().mid(0, 4));
    trend.setRange(start, end);
    std::vector<double> times;
    for (int d = 0; d < draws; ++d) {
        QElapsedTimer t;
        t.start();
        trend.redraw();
        trend.grab();
        times.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    r.redrawMs = spread(times).p50;
    r.points = trend.drawnPoints();
    return r;
}

int trendMode(bool quick)
{
    const int draws = quick ? 5 : 31;
    const TrendRun small = trendRun(1000, draws); // the chart's lines 1,000 samples each
    const TrendRun big = trendRun(quick ? 8640 : 86400, draws);
    printLine(QStringLiteral("trend_redraw small_samples=%1 small_ms=%2 small_points=%3 "
                             "big_samples=%4 big_ms=%5 big_points=%6 redraw_ratio=%7 "
                             "heap_bytes_per_sample=%8 store_bytes_per_sample=%9")
                  .arg(small.samples)
                  .arg(num(small.redrawMs, 2))
                  .arg(small.points)
                  .arg(big.samples)
                  .arg(num(big.redrawMs, 2))
                  .arg(big.points)
                  .arg(num(big.redrawMs / small.redrawMs, 3),
                       num(double(big.heapBytes) / double(big.samples), 2),
                       num(double(big.storeBytes) / double(big.samples), 2)));
    return 0;
}

// Bytes this process sent toward the disk (/proc/self/io write_bytes: a page
// counts each time a clean page is written to, so a row synced on its own
// costs a whole page); -1 where the system does not say.
qint64 storageBytes()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : io.readAll().split('\n')) {
        if (line.startsWith("write_bytes:"))
            return line.mid(12).trimmed().toLongLong();
    }
    return -1;
}

qint64 loggedRows(const QString &folder)
{
    qint64 rows = 0;
    for (const QFileInfo &f : QDir(folder).entryInfoList({QStringLiteral("*.csv")}, QDir::Files)) {
        QFile file(f.filePath());
        if (file.open(QIODevice::ReadOnly))
            rows += file.readAll().count('\n') - 1; // the header
    }
    return rows;
}

// What a disk flush per row costs against one a second: forty paced modules
// on one line with the data log on, once with each, in a folder on the disk
// (the working directory, or KC_BENCH_LOG_DIR: /tmp may be memory); then
// write() alone at 70 rows a second, its time with and without the flush.
int syncMode(double seconds)
{
    QTemporaryDir dir;
    const QString line = dir.filePath(QStringLiteral("line"));
    SimProcess sim(pacedSim(line));
    if (!sim.ready())
        return 1;
    const QString base = qEnvironmentVariable("KC_BENCH_LOG_DIR", QDir::currentPath());
    struct Run
    {
        double cyclesPerSecond = 0, cpuMsPerCycle = 0, rowsPerSecond = 0, syncsPerSecond = 0;
        double storageBytesPerRow = 0;
        Spread writeMs;
    };
    auto run = [&](int delayMs) {
        QTemporaryDir logs(QDir(base).filePath(QStringLiteral("kc-sync-XXXXXX")));
        Run r;
        {
            Program program({line});
            kc::DataLog *log = program.window.recorder()->log();
            log->setFolder(logs.path());
            log->setSyncDelay(delayMs);
            const qint64 bytes = storageBytes();
            const int syncs = log->syncs();
            QElapsedTimer wall;
            wall.start();
            const Program::Rates rates = program.measure({line}, seconds);
            log->close();
            const double elapsed = double(wall.nsecsElapsed()) / 1e9;
            const double rows = double(loggedRows(logs.path()));
            r.cyclesPerSecond = rates.cyclesPerSecond[0];
            r.cpuMsPerCycle = 1000 * rates.cpuSeconds / rates.cycles;
            r.rowsPerSecond = rows / elapsed;
            r.syncsPerSecond = (log->syncs() - syncs) / elapsed;
            r.storageBytesPerRow = double(storageBytes() - bytes) / rows;
        }
        // write() alone, a row every 1000/70 ms, as two such lines would log.
        kc::DataLog log;
        log.setFolder(logs.path());
        log.setSyncDelay(delayMs);
        const kc::LogRow row{QDateTime::currentDateTime(),
                             QStringLiteral("/dev/ttyUSB0"),
                             12,
                             QStringLiteral("25.34"),
                             QStringLiteral("65.20"),
                             QStringLiteral("正常"),
                             QStringLiteral("应答正常 4.4 ms"),
                             4.4};
        std::vector<double> times;
        for (int i = 0; i < int(seconds * 70); ++i) {
            QElapsedTimer t;
            t.start();
            log.write(row);
            times.push_back(double(t.nsecsElapsed()) / 1e6);
            QCoreApplication::processEvents(); // the sync timer
            QThread::usleep(1'000'000 / 70);
        }
        r.writeMs = spread(times);
        return r;
    };
    const Run timer = run(1000);
    const Run each = run(0);
    printLine(
        QStringLiteral("data_log_sync modules=%1 baud=%2 seconds=%3 "
                       "timer_cycles_per_s=%4 each_cycles_per_s=%5 cycles_ratio=%6 "
                       "timer_cpu_ms_per_cycle=%7 each_cpu_ms_per_cycle=%8 "
                       "timer_rows_per_s=%9 timer_syncs_per_s=%10 each_syncs_per_s=%11 "
                       "timer_storage_bytes_per_row=%12 each_storage_bytes_per_row=%13 "
                       "timer_write_ms_p50=%14 timer_write_ms_p99=%15 timer_write_ms_max=%16 "
                       "each_write_ms_p50=%17 each_write_ms_p99=%18 each_write_ms_max=%19")
            .arg(modules)
            .arg(baud)
            .arg(num(seconds, 0), num(timer.cyclesPerSecond, 4), num(each.cyclesPerSecond, 4),
                 num(each.cyclesPerSecond / timer.cyclesPerSecond, 4), num(timer.cpuMsPerCycle, 2),
                 num(each.cpuMsPerCycle, 2), num(timer.rowsPerSecond, 2))
            .arg(num(timer.syncsPerSecond, 2), num(each.syncsPerSecond, 2),
                 num(timer.storageBytesPerRow, 0), num(each.storageBytesPerRow, 0),
                 num(timer.writeMs.p50, 3), num(timer.writeMs.p99, 3), num(timer.writeMs.max, 3),
                 num(each.writeMs.p50, 3), num(each.writeMs.p99, 3))
            .arg(num(each.writeMs.max, 3)));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // The monitor window keeps its list in the settings: not in the user's own.
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const double seconds = argc > 2 ? QString::fromLocal8Bit(argv[2]).toDouble() : 30;
    if (mode == QLatin1String("wire"))
        return wireMode(seconds);
    if (mode == QLatin1String("two"))
        return twoMode(seconds);
    if (mode == QLatin1String("trend"))
        return trendMode(argc > 2 && QString::fromLocal8Bit(argv[2]) == QLatin1String("--quick"));
    if (mode == QLatin1String("sync"))
        return syncMode(seconds);
    std::fprintf(stderr, "usage: bench_monitor wire|two|sync SECONDS | trend [--quick]\n");
    return 2;
}
