// kc4420-gateway as a plant runs it: two lines of forty simulated modules
// each on pseudo-terminals paced like a 19200 baud line, published to a
// Mosquitto on the loopback, read by a subscriber in this process. One mode per
// run, one line each.
//
//   bench_gateway rate SECONDS     states published against polls, reply-to-receipt
//                                  latency, the gateway's CPU per poll
//   bench_gateway soak SECONDS     the gateway's resident memory, the second minute
//                                  against the last (a tenth of the run each when shorter)
//   bench_gateway outage SECONDS   the broker away that long mid-run: states lost
//   bench_gateway serve SECONDS    four Modbus TCP clients asking line a back to back:
//                                  each one's share of the line, the server's added
//                                  latency, the gateway's polls against polling alone

#include "BenchSupport.h"
#include "GatewayProcess.h"
#include "MosquittoBroker.h"
#include "SimProcess.h"
#include "WireLimit.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <unistd.h>

using namespace kcbench;

namespace {

constexpr int baud = 19200;
constexpr int modules = 40;
const QString prefix = QStringLiteral("kc4420/bench");

void runFor(double seconds)
{
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

// CPU seconds and resident bytes of another process, from /proc.
double cpuSecondsOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    // Fields after the command's closing parenthesis; utime and stime are 14 and 15.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

std::int64_t residentBytesOf(qint64 pid)
{
    QFile statm(QStringLiteral("/proc/%1/statm").arg(pid));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return statm.readAll().split(' ').value(1).toLongLong() * sysconf(_SC_PAGESIZE);
}

// Two paced lines of simulated modules, a broker, the gateway polling them
// back to back with its data log on, and a subscriber to every state.
struct Plant
{
    QTemporaryDir dir;
    MosquittoBroker broker;
    std::unique_ptr<SimProcess> simA, simB;
    GatewayProcess gateway{QStringLiteral(KC_GATEWAY_PATH)};
    std::unique_ptr<BrokerSubscriber> subscriber;
    std::vector<BrokerSubscriber::Received> earlier; // what subscribers before it got

    static QStringList simArguments(const QString &link)
    {
        return QStringList{QStringLiteral("--stations"), QStringLiteral("1-%1").arg(modules),
                           QStringLiteral("--fixed"),    QStringLiteral("--stamp-replies"),
                           QStringLiteral("--link"),     link}
               << pacedLineArguments(baud);
    }

    QVariantMap serve; // the Modbus TCP server's settings, when it serves

    bool start()
    {
        simA = std::make_unique<SimProcess>(simArguments(dir.filePath(QStringLiteral("a"))));
        simB = std::make_unique<SimProcess>(simArguments(dir.filePath(QStringLiteral("b"))));
        if (!broker.start() || !simA->ready() || !simB->ready())
            return false;
        subscribe();
        QVariantList lines;
        for (const char *name : {"a", "b"}) {
            lines << QVariantMap{{QStringLiteral("port"), dir.filePath(QLatin1String(name))},
                                 {QStringLiteral("baud"), baud},
                                 {QStringLiteral("stations"), QStringLiteral("1-%1").arg(modules)},
                                 {QStringLiteral("cycle_ms"), 0},
                                 {QStringLiteral("name"), QLatin1String(name)}};
        }
        QVariantMap config = GatewayProcess::config(broker, prefix, lines);
        config[QStringLiteral("data_log")] =
            QVariantMap{{QStringLiteral("enabled"), true},
                        {QStringLiteral("folder"), dir.filePath(QStringLiteral("log"))}};
        if (!serve.isEmpty())
            config[QStringLiteral("serve")] = serve;
        if (!gateway.start(config))
            return false;
        // Every module read once: its device text and first values are in.
        for (int i = 0; i < 600 && answeredPolls() < 2 * modules; ++i)
            runFor(0.05);
        return answeredPolls() >= 2 * modules;
    }
    // A persistent session: the broker keeps what comes while it is away.
    void subscribe()
    {
        if (subscriber) {
            const auto got = subscriber->received();
            earlier.insert(earlier.end(), got.begin(), got.end());
        }
        subscriber.reset();
        subscriber = std::make_unique<BrokerSubscriber>(
            broker, QStringList{prefix + QStringLiteral("/+/+/state")}, QStringLiteral("bench"),
            true);
    }
    // Requests the modules answered, their device texts left out.
    long long answeredPolls()
    {
        return simA->stats().replies + simB->stats().replies - 2 * modules;
    }
    // Rows in the gateway's data log: one a poll.
    qint64 loggedPolls()
    {
        qint64 rows = 0;
        for (const QFileInfo &f : QDir(dir.filePath(QStringLiteral("log")))
                                      .entryInfoList({QStringLiteral("*.csv")}, QDir::Files)) {
            QFile file(f.filePath());
            if (file.open(QIODevice::ReadOnly))
                rows += file.readAll().count('\n') - 1; // the header
        }
        return rows;
    }
};

double wirePollsPerSecond()
{
    return 1000.0 / wireCycle(baud).totalMs;
}

int rateMode(double seconds)
{
    Plant plant;
    if (!plant.start())
        return 1;
    const long long pollsBefore = plant.answeredPolls();
    const double cpuBefore = cpuSecondsOf(plant.gateway.pid());
    const std::int64_t from = monotonicNs();
    runFor(seconds);
    const std::int64_t to = monotonicNs();
    const double cpu = cpuSecondsOf(plant.gateway.pid()) - cpuBefore;
    const long long polls = plant.answeredPolls() - pollsBefore;
    const auto received = plant.subscriber->received();
    const double states =
        double(std::count_if(received.begin(), received.end(),
                             [&](const auto &r) { return r.atNs >= from && r.atNs <= to; }));

    // Each line's states against its own replies' last bytes.
    std::vector<double> latencies;
    for (const char *line : {"a", "b"}) {
        const std::vector<std::int64_t> stamps =
            (*line == 'a' ? plant.simA : plant.simB)->sentStamps();
        std::vector<std::int64_t> receipts;
        const QString part = QStringLiteral("/%1/").arg(QLatin1String(line));
        for (const auto &r : received) {
            if (r.atNs >= from && r.atNs <= to && r.topic.contains(part))
                receipts.push_back(r.atNs);
        }
        const auto l = stampLatenciesMs(stamps, receipts, 100'000'000);
        latencies.insert(latencies.end(), l.begin(), l.end());
    }
    const Spread latency = spread(latencies);
    const double elapsed = double(to - from) / 1e9;
    printLine(QStringLiteral("gateway_rate lines=2 modules_per_line=%1 baud=%2 seconds=%3 "
                             "wire_polls_per_s_per_line=%4 polls_per_s=%5 states_per_s=%6 "
                             "ratio=%7 latency_ms_p50=%8 latency_ms_p99=%9 latency_ms_max=%10 "
                             "latency_samples=%11 cpu_us_per_poll=%12 cpu_percent=%13 rss_mb=%14")
                  .arg(modules)
                  .arg(baud)
                  .arg(num(elapsed, 0), num(wirePollsPerSecond(), 2),
                       num(double(polls) / elapsed, 2), num(states / elapsed, 2),
                       num(states / double(polls), 4), num(latency.p50, 2), num(latency.p99, 2))
                  .arg(num(latency.max, 2))
                  .arg(latencies.size())
                  .arg(num(1e6 * cpu / double(polls), 1), num(100 * cpu / elapsed, 2),
                       num(double(residentBytesOf(plant.gateway.pid())) / 1e6, 1)));
    return 0;
}

int soakMode(double seconds)
{
    Plant plant;
    if (!plant.start())
        return 1;
    // A minute a window, or a tenth of a shorter run.
    const int window = int(std::min(60.0, seconds / 10));
    std::vector<std::int64_t> rss; // a sample a second
    for (int s = 0; s < int(seconds); ++s) {
        runFor(1);
        rss.push_back(residentBytesOf(plant.gateway.pid()));
    }
    const auto mean = [&](std::size_t first) {
        double sum = 0;
        for (std::size_t i = first; i < first + std::size_t(window); ++i)
            sum += double(rss[i]);
        return sum / window;
    };
    const double second = mean(std::size_t(window));
    const double last = mean(rss.size() - std::size_t(window));
    const long long polls = plant.answeredPolls();
    QStringList windows; // the mean of each window, to tell a plateau from a slope
    for (std::size_t first = 0; first + std::size_t(window) <= rss.size();
         first += std::size_t(window))
        windows << num(mean(first) / 1e6, 2);
    printLine(QStringLiteral("gateway_soak lines=2 modules_per_line=%1 baud=%2 seconds=%3 "
                             "window_s=%4 polls=%5 rss_mb_second_window=%6 rss_mb_last_window=%7 "
                             "rss_ratio=%8 rss_mb_each_window=%9")
                  .arg(modules)
                  .arg(baud)
                  .arg(num(seconds, 0))
                  .arg(window)
                  .arg(polls)
                  .arg(num(second / 1e6, 2), num(last / 1e6, 2), num(last / second, 4),
                       windows.join(QLatin1Char(','))));
    return 0;
}

int outageMode(double seconds)
{
    Plant plant;
    if (!plant.start())
        return 1;
    runFor(5);
    plant.broker.stop();
    const long long pollsBefore = plant.answeredPolls();
    runFor(seconds);
    const long long pollsAway = plant.answeredPolls() - pollsBefore;
    if (!plant.broker.start())
        return 1;
    plant.subscribe();
    for (int i = 0; i < 600 && plant.gateway.messages().count(QStringLiteral("connected to")) < 2;
         ++i)
        runFor(0.1);
    // Until the backlog is in: three seconds in a row with no more than the
    // lines' own polls coming.
    const double live = 2 * 2 * wirePollsPerSecond();
    std::size_t seen = 0;
    for (int quiet = 0; quiet < 3;) {
        runFor(1);
        const std::size_t now = plant.subscriber->received().size();
        quiet = double(now - seen) > live ? 0 : quiet + 1;
        seen = now;
    }
    if (!plant.gateway.terminate())
        return 1;
    runFor(1);
    plant.subscribe();
    QSet<QByteArray> states; // each once, however often it came
    for (const auto &r : plant.earlier)
        states.insert(r.topic.toUtf8() + ' ' + r.payload);
    const qint64 polled = plant.loggedPolls();
    printLine(QStringLiteral("gateway_outage lines=2 modules_per_line=%1 baud=%2 away_s=%3 "
                             "polls_while_away=%4 polls=%5 states_received=%6 states_lost=%7")
                  .arg(modules)
                  .arg(baud)
                  .arg(num(seconds, 0))
                  .arg(pollsAway)
                  .arg(polled)
                  .arg(states.size())
                  .arg(polled - states.size()));
    return 0;
}

// A Modbus TCP client asking one module back to back: the fifteen registers
// a poll reads, the next request as soon as the answer is in.
struct Asker
{
    QTcpSocket socket;
    QByteArray request;
    qsizetype answerSize = 0;
    std::int64_t sentNs = 0;
    bool counting = false;
    std::vector<std::int64_t> receipts; // while counting
    std::vector<double> roundTripsMs;
    long long answers = 0, wrong = 0;

    Asker(int port, int unit)
    {
        request = QByteArray::fromHex("000100000006") + char(unit) +
                  QByteArray::fromHex("03000000"
                                      "0f");
        answerSize = 9 + 2 * 15;
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { read(); });
        QObject::connect(&socket, &QTcpSocket::connected, [this] { ask(); });
        socket.connectToHost(QHostAddress::LocalHost, quint16(port));
    }
    void ask()
    {
        sentNs = monotonicNs();
        socket.write(request);
    }
    void read()
    {
        if (socket.bytesAvailable() < answerSize)
            return;
        const std::int64_t now = monotonicNs();
        const QByteArray answer = socket.read(answerSize);
        if (counting) {
            receipts.push_back(now);
            roundTripsMs.push_back(double(now - sentNs) / 1e6);
            ++answers;
            wrong += answer.at(7) != 0x03; // an exception instead of the registers
        }
        ask();
    }
};

int serveMode(double seconds)
{
    Plant plant;
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const int port = probe.serverPort();
    probe.close();
    QVariantMap units;
    for (int station = 1; station <= modules; ++station)
        units[QString::number(station)] = QStringLiteral("a/%1").arg(station);
    plant.serve = {{QStringLiteral("port"), port}, {QStringLiteral("units"), units}};
    if (!plant.start())
        return 1;
    // Line a alone, then with the clients, each as long.
    const auto polledOnA = [&] { return plant.simA->stats().replies; };
    long long before = polledOnA();
    runFor(seconds);
    const double alone = double(polledOnA() - before) / seconds;

    std::vector<std::unique_ptr<Asker>> askers;
    for (int unit = 1; unit <= 4; ++unit)
        askers.push_back(std::make_unique<Asker>(port, unit * 10));
    runFor(2); // connected and asking
    const std::size_t stampsBefore = plant.simA->sentStamps().size();
    for (auto &a : askers)
        a->counting = true;
    before = polledOnA();
    runFor(seconds);
    for (auto &a : askers)
        a->counting = false;
    const long long onLine = polledOnA() - before;
    long long asked = 0, wrong = 0;
    QStringList shares;
    std::vector<double> roundTrips, added;
    const std::vector<std::int64_t> stamps = plant.simA->sentStamps();
    const std::vector<std::int64_t> recent(stamps.begin() + qsizetype(stampsBefore), stamps.end());
    for (const auto &a : askers) {
        asked += a->answers;
        wrong += a->wrong;
        shares << num(double(a->answers) / double(onLine), 3);
        roundTrips.insert(roundTrips.end(), a->roundTripsMs.begin(), a->roundTripsMs.end());
        const auto l = stampLatenciesMs(recent, a->receipts, 100'000'000);
        added.insert(added.end(), l.begin(), l.end());
    }
    const double polls = double(onLine - asked) / seconds;
    const Spread trip = spread(roundTrips), server = spread(added);
    printLine(QStringLiteral("gateway_serve modules=%1 baud=%2 seconds=%3 clients=4 "
                             "client_shares=%4 polls_share=%5 client_answers=%6 exceptions=%7 "
                             "added_ms_p50=%8 added_ms_p99=%9 round_trip_ms_p50=%10 "
                             "round_trip_ms_p99=%11 polls_per_s=%12 polls_per_s_alone=%13 "
                             "polls_ratio=%14")
                  .arg(modules)
                  .arg(baud)
                  .arg(num(seconds, 0), shares.join(QLatin1Char(',')),
                       num(double(onLine - asked) / double(onLine), 3))
                  .arg(asked)
                  .arg(wrong)
                  .arg(num(server.p50, 2), num(server.p99, 2), num(trip.p50, 2), num(trip.p99, 2),
                       num(polls, 2), num(alone, 2), num(polls / alone, 3)));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const double seconds = argc > 2 ? QString::fromLocal8Bit(argv[2]).toDouble() : 30;
    if (!MosquittoBroker::available()) {
        std::fprintf(stderr, "bench_gateway: %s is not installed\n",
                     qPrintable(MosquittoBroker::program()));
        return 1;
    }
    if (mode == QLatin1String("rate"))
        return rateMode(seconds);
    if (mode == QLatin1String("soak"))
        return soakMode(seconds);
    if (mode == QLatin1String("outage"))
        return outageMode(seconds);
    if (mode == QLatin1String("serve"))
        return serveMode(seconds);
    std::fprintf(stderr, "usage: bench_gateway rate|soak|outage|serve SECONDS\n");
    return 2;
}
