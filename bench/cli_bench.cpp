// kc4420-cli as a whole process against the simulated module on a pseudo-terminal.
//   read RUNS   start-to-exit time of a fifteen-register read, next to mbpoll reading
//               the same registers from the same module in the same run
//   poll CYCLES back-to-back polling at 19200 baud on a line paced like a real one,
//               against the wire's limit

#include "BenchSupport.h"
#include "SimProcess.h"
#include "WireLimit.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <vector>

using namespace kcbench;

namespace {

// Milliseconds from start to exit, or -1 when the program failed.
double timedRun(const QString &program, const QStringList &args)
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(300000) || p.exitCode() != 0)
        return -1;
    return double(t.nsecsElapsed()) / 1e6;
}

int readMode(int runs)
{
    SimProcess sim({QStringLiteral("--fixed")});
    const QString mbpoll = QStandardPaths::findExecutable(QStringLiteral("mbpoll"));
    const QString port = sim.ptyPath();
    std::vector<double> ours, theirs;
    int failed = 0;
    // Alternating runs share whatever else the machine is doing.
    for (int i = 0; i < runs; ++i) {
        const double a = timedRun(QStringLiteral(KC_CLI_PATH), {"--port", port, "read"});
        const double b =
            mbpoll.isEmpty()
                ? -1
                : timedRun(mbpoll, {"-m", "rtu", "-b", "9600", "-P", "none", "-a", "1", "-0", "-r",
                                    "0", "-c", "15", "-t", "4", "-1", port});
        failed += (a < 0) + (b < 0 && !mbpoll.isEmpty());
        if (a >= 0)
            ours.push_back(a);
        if (b >= 0)
            theirs.push_back(b);
    }
    const Spread o = spread(ours), m = spread(theirs);
    printLine(
        QStringLiteral("cli_read runs=%1 failed=%2 cli_ms_p50=%3 cli_ms_max=%4 mbpoll_ms_p50=%5 "
                       "mbpoll_ms_max=%6 cli_over_mbpoll=%7")
            .arg(runs)
            .arg(failed)
            .arg(num(o.p50, 1), num(o.max, 1), num(m.p50, 1), num(m.max, 1),
                 m.p50 > 0 ? num(o.p50 / m.p50, 3) : QStringLiteral("n/a")));
    return 0;
}

int pollMode(int cycles)
{
    const int baud = 19200;
    SimProcess sim({QStringLiteral("--fixed"), QStringLiteral("--pace"), QString::number(baud),
                    QStringLiteral("--frame-gap"), num(frameSilenceMs(baud), 3),
                    QStringLiteral("--reply-delay"), num(pacedLineReplyDelayMs(baud), 3)});
    const double ms = timedRun(QStringLiteral(KC_CLI_PATH),
                               {"--port", sim.ptyPath(), "--baud", QString::number(baud), "poll",
                                "--period", "0", "--count", QString::number(cycles)});
    const long long requests = sim.stats().requests;
    const double wireMs = wireCycle(baud).totalMs;
    const double perSecond = ms > 0 ? requests * 1000.0 / ms : 0;
    printLine(QStringLiteral("cli_poll_back_to_back baud=%1 cycles=%2 requests=%3 elapsed_ms=%4 "
                             "cycles_per_s=%5 wire_cycle_ms=%6 wire_cycles_per_s=%7 of_wire=%8")
                  .arg(baud)
                  .arg(cycles)
                  .arg(requests)
                  .arg(num(ms, 0), num(perSecond, 2), num(wireMs, 1), num(1000.0 / wireMs, 2),
                       num(perSecond * wireMs / 1000.0, 3)));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    const int n = args.value(2).toInt();
    if (mode == QLatin1String("read"))
        return readMode(n > 0 ? n : 20);
    if (mode == QLatin1String("poll"))
        return pollMode(n > 0 ? n : 500);
    fprintf(stderr, "usage: bench_cli read RUNS | poll CYCLES\n");
    return 2;
}
