// kc4420-cli as a whole process against the simulated module on a pseudo-terminal.
//   read RUNS   start-to-exit time of a fifteen-register read, next to mbpoll reading
//               the same registers from the same module in the same run
//   poll CYCLES back-to-back polling at 19200 baud on a line paced like a real one,
//               against the wire's limit
//   tcp RUNS    the read through the module's TCP port (RTU over TCP) against the
//               same through its pseudo-terminal
//   modbus-tcp RUNS
//               the read over Modbus TCP from a libmodbus server, next to mbpoll's

#include "BenchSupport.h"
#include "ModbusTcpServer.h"
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

struct Run
{
    QString program; // empty: not run
    QStringList args;
};

struct Pair
{
    Spread first, second;
    int failed = 0;
};

// Alternating runs share whatever else the machine is doing.
Pair alternate(int runs, const Run &first, const Run &second)
{
    std::vector<double> a, b;
    int failed = 0;
    for (int i = 0; i < runs; ++i) {
        for (const auto &[run, samples] : {std::pair{&first, &a}, std::pair{&second, &b}}) {
            if (run->program.isEmpty())
                continue;
            const double ms = timedRun(run->program, run->args);
            failed += ms < 0;
            if (ms >= 0)
                samples->push_back(ms);
        }
    }
    return {spread(a), spread(b), failed};
}

// "<name> runs= failed= <a>_ms_p50= <a>_ms_max= <b>_ms_p50= <b>_ms_max= <a>_over_<b>="
void printPair(const QString &name, int runs, const Pair &p, const QString &a, const QString &b)
{
    printLine(
        QStringLiteral("%1 runs=%2 failed=%3 %4_ms_p50=%5 %4_ms_max=%6 %7_ms_p50=%8 "
                       "%7_ms_max=%9 %4_over_%7=%10")
            .arg(name)
            .arg(runs)
            .arg(p.failed)
            .arg(a, num(p.first.p50, 1), num(p.first.max, 1), b, num(p.second.p50, 1),
                 num(p.second.max, 1),
                 p.second.p50 > 0 ? num(p.first.p50 / p.second.p50, 3) : QStringLiteral("n/a")));
}

int readMode(int runs)
{
    SimProcess sim({QStringLiteral("--fixed")});
    const QString mbpoll = QStandardPaths::findExecutable(QStringLiteral("mbpoll"));
    const QString port = sim.ptyPath();
    const Pair p = alternate(runs, {QStringLiteral(KC_CLI_PATH), {"--port", port, "read"}},
                             {mbpoll,
                              {"-m", "rtu", "-b", "9600", "-P", "none", "-a", "1", "-0", "-r", "0",
                               "-c", "15", "-t", "4", "-1", port}});
    printPair(QStringLiteral("cli_read"), runs, p, QStringLiteral("cli"), QStringLiteral("mbpoll"));
    return 0;
}

// The same read through the simulated module's TCP port (RTU bytes, as through
// a serial device server) and through its pseudo-terminal.
int tcpMode(int runs)
{
    SimProcess pty({QStringLiteral("--fixed")});
    SimProcess tcp({QStringLiteral("--fixed"), QStringLiteral("--tcp"), QStringLiteral("0")});
    const QString cli = QStringLiteral(KC_CLI_PATH);
    const Pair p = alternate(
        runs, {cli, {"--port", QStringLiteral("tcp://127.0.0.1:%1").arg(tcp.tcpPort()), "read"}},
        {cli, {"--port", pty.ptyPath(), "read"}});
    printPair(QStringLiteral("cli_read_tcp"), runs, p, QStringLiteral("tcp"),
              QStringLiteral("pty"));
    return 0;
}

// Modbus TCP: the read against a libmodbus server, next to mbpoll's on the same server.
int modbusTcpMode(int runs)
{
    ModbusTcpServer server(std::vector<std::uint16_t>(15, 1000));
    const QString port = QString::number(server.port());
    const QString mbpoll = QStandardPaths::findExecutable(QStringLiteral("mbpoll"));
    const Pair p = alternate(
        runs, {QStringLiteral(KC_CLI_PATH), {"--port", "modbus-tcp://127.0.0.1:" + port, "read"}},
        {mbpoll,
         {"-m", "tcp", "-p", port, "-a", "1", "-0", "-r", "0", "-c", "15", "-t", "4", "-1",
          "127.0.0.1"}});
    printPair(QStringLiteral("cli_read_modbus_tcp"), runs, p, QStringLiteral("cli"),
              QStringLiteral("mbpoll"));
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
    if (mode == QLatin1String("tcp"))
        return tcpMode(n > 0 ? n : 20);
    if (mode == QLatin1String("modbus-tcp"))
        return modbusTcpMode(n > 0 ? n : 20);
    fprintf(stderr, "usage: bench_cli read RUNS | poll CYCLES | tcp RUNS | modbus-tcp RUNS\n");
    return 2;
}
