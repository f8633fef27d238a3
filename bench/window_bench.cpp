// The real window, offscreen, on QtSerialLink against the simulated module over a
// pseudo-terminal. One mode per run; each prints its figures as one line (the poll
// mode prints three: schedule, added latency and CPU per cycle, from one run).
// The long runs that were once tests live here: a thousand and more poll cycles,
// twenty thousand back-to-back reads, a minute of flood, and upload records every
// 10 ms; each prints the counts that tell whether anything was lost.

#include "BenchSupport.h"
#include "CountingSink.h"
#include "SimProcess.h"
#include "WireLimit.h"

#include "operations/RegisterMap.h"
#include "protocol/FrameCodec.h"
#include "line/PortClaims.h"
#include "protocol/QtSerialLink.h"
#include "ui/MainWindow.h"
#include "ui/MessageSink.h"
#include "ui/TrafficLogWindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QMap>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

using namespace kcbench;

namespace {

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// The real link, noting when the window starts to read a delivery: that splits the
// added latency into the event loop's share and the window's handler.
class StampedLink : public kc::QtSerialLink
{
public:
    using kc::QtSerialLink::QtSerialLink;
    QByteArray readAll() override
    {
        readAt = monotonicNs();
        return kc::QtSerialLink::readAll();
    }
    std::int64_t readAt = 0;
};

// What the boxes must show after a good reply from a module holding these words.
struct Expected
{
    QString trace;
    QStringList texts;
};

// The window as the tool starts it, with COM1 mapped to the simulator's line.
struct Rig
{
    explicit Rig(const QString &pty)
    {
        qputenv("KC4420_COM1", pty.toLocal8Bit());
        window = std::make_unique<kc::MainWindow>(&claims, &messages);
        window->show();
        for (int i = 0; i < 15; ++i)
            values << window->findChild<QLineEdit *>(QStringLiteral("txtValue_%1").arg(i));
        received = window->findChild<QPlainTextEdit *>(QStringLiteral("txtState"));
        log = window->findChild<QPlainTextEdit *>(QStringLiteral("txtUp"));
        runFor(200); // first paint and start-up settle before anything is measured
    }

    void click(const char *name) { window->findChild<QPushButton *>(QLatin1String(name))->click(); }
    // Clicks and lets the event loop run until the request has its outcome.
    void request(const char *name)
    {
        const long long before = window->totals().sent;
        click(name);
        // The window's own deadline ends every request, so this cannot wait forever.
        while (window->totals().sent == before)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    // Whether the boxes show exactly the module's reply, with the green lamp.
    bool shows(const Expected &e) const;
    void setBox(const char *name, const QString &text)
    {
        window->findChild<QLineEdit *>(QLatin1String(name))->setText(text);
    }

    CountingSink messages;
    StampedLink *link = nullptr; // the window's, the newest made
    kc::PortClaims claims{[this](const QString &port) { return link = new StampedLink(port); }};
    std::unique_ptr<kc::MainWindow> window;
    QList<QLineEdit *> values;
    QPlainTextEdit *received = nullptr;
    QPlainTextEdit *log = nullptr;
};

bool Rig::shows(const Expected &e) const
{
    bool shown =
        window->frontLamp() == QLatin1String("imgConnected") && received->toPlainText() == e.trace;
    for (int i = 0; shown && i < values.size(); ++i)
        shown = values[i]->text() == e.texts[i];
    return shown;
}

Expected expectedFor(const std::vector<std::uint16_t> &words)
{
    QByteArray reply;
    reply.append(char(0x01)).append(char(0x03)).append(char(2 * words.size()));
    for (const std::uint16_t w : words)
        reply.append(char(w >> 8)).append(char(w & 0xFF));
    const std::uint16_t crc = kc::crc16Value(reply.constData(), int(reply.size()));
    reply.append(char(crc & 0xFF)).append(char(crc >> 8));
    Expected e;
    e.trace = kc::receivedTrace(reply);
    for (int i = 0; i < int(words.size()); ++i)
        e.texts << kc::decodeWord(i, words[std::size_t(i)]);
    return e;
}

struct PollResult
{
    double elapsedS = 0;
    double cpuS = 0;
    long long expectedTicks = 0;
    long long ticks = 0;
    SimProcess::Stats stats;
    kc::OutcomeTotals totals;
    long long receives = 0;
    long long rejected = 0;
    std::vector<std::int64_t> tickTimes;
    std::vector<std::int64_t> decodedTimes;
    std::vector<double> handlerMs; // from the window's read to the values set
    std::vector<std::int64_t> sentStamps;
    int messages = 0;
};

// Polls with the window's own timer for `seconds`, counting what came of it.
PollResult poll(const QStringList &simArguments, int periodMs, double seconds)
{
    PollResult r;
    SimProcess sim(QStringList{QStringLiteral("--fixed"), QStringLiteral("--seed"),
                               QStringLiteral("7"), QStringLiteral("--stamp-replies")} +
                   simArguments);
    if (!sim.ready()) {
        std::fprintf(stderr, "simulator did not start\n");
        return r;
    }
    const Expected expected = expectedFor(sim.registers());
    Rig rig(sim.ptyPath());

    // Connected after the window's own handlers, so these run once the window is done.
    QObject::connect(rig.link, &kc::Link::arrived, rig.window.get(), [&] {
        const std::int64_t now = monotonicNs();
        ++r.receives;
        if (rig.shows(expected)) {
            r.decodedTimes.push_back(now);
            r.handlerMs.push_back(double(now - rig.link->readAt) / 1e6);
        } else if (rig.window->frontLamp() == QLatin1String("imgNotConnected"))
            ++r.rejected;
    });
    QObject::connect(rig.window->pollTimer(), &QTimer::timeout, rig.window.get(),
                     [&] { r.tickTimes.push_back(monotonicNs()); });

    rig.setBox("txtTimerSet", QString::number(periodMs));
    const double cpu0 = cpuSeconds();
    const std::int64_t t0 = monotonicNs();
    rig.click("cmdOneM");
    // Stop half a period after the last tick that belongs to the run.
    const long long wanted = std::llround(seconds * 1000 / periodMs);
    runFor(int(wanted * periodMs + periodMs / 2));
    rig.click("cmdStopOnce");
    const std::int64_t t1 = monotonicNs();
    r.cpuS = cpuSeconds() - cpu0;
    r.elapsedS = double(t1 - t0) / 1e9;
    r.expectedTicks = (t1 - t0) / (std::int64_t(periodMs) * 1'000'000);
    r.ticks = static_cast<long long>(r.tickTimes.size());
    runFor(300); // a reply still under way lands, or not, before the count
    r.stats = sim.stats();
    r.totals = rig.window->totals();
    sim.quit();
    r.sentStamps = sim.sentStamps();
    r.messages = rig.messages.count;
    return r;
}

struct RefResult
{
    long long sent = 0;
    long long decoded = 0;
    double cpuS = 0;
    std::vector<double> latenciesMs;
};

RefResult referenceMaster(int periodMs, long long cycles)
{
    RefResult r;
    SimProcess sim({QStringLiteral("--fixed"), QStringLiteral("--seed"), QStringLiteral("7"),
                    QStringLiteral("--stamp-replies")});
    if (!sim.ready())
        return r;
    QTemporaryDir dir;
    const QString stampFile = dir.filePath(QStringLiteral("decoded"));
    QProcess master;
    master.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    master.start(QStringLiteral(KC_REF_MASTER_PATH),
                 {sim.ptyPath(), QString::number(periodMs), QString::number(cycles), stampFile});
    master.waitForFinished(int(cycles * periodMs + 30000));
    const QString line = QString::fromUtf8(master.readAllStandardOutput()).trimmed();
    for (const QString &pair : line.split(QLatin1Char(' '))) {
        const QString key = pair.section(QLatin1Char('='), 0, 0);
        const QString value = pair.section(QLatin1Char('='), 1);
        if (key == QLatin1String("sent"))
            r.sent = value.toLongLong();
        else if (key == QLatin1String("decoded"))
            r.decoded = value.toLongLong();
        else if (key == QLatin1String("cpu_s"))
            r.cpuS = value.toDouble();
    }
    sim.quit();
    std::vector<std::int64_t> decodedAt;
    QFile file(stampFile);
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray &l : file.readAll().split('\n'))
            if (!l.isEmpty())
                decodedAt.push_back(l.toLongLong());
    }
    r.latenciesMs =
        stampLatenciesMs(sim.sentStamps(), decodedAt, std::int64_t(periodMs) * 1'000'000);
    return r;
}

QString ratio(double part, double whole)
{
    return whole > 0 ? num(part / whole, 4) : QStringLiteral("nan");
}

int pollMode(double seconds)
{
    const int periodMs = 50;
    const PollResult tool = poll({}, periodMs, seconds);
    const long long cycles = tool.stats.requests;
    // sent: requests the module received; ticks: timer firings the window handled;
    // answered .. superseded: the outcomes the window gave its requests.
    printLine(QStringLiteral("poll_schedule period_ms=%1 elapsed_s=%2 sent=%3 expected=%4 "
                             "sent_ratio=%5 decoded=%6 decoded_ratio=%7 ticks=%8 messages=%9 "
                             "answered=%10 no_reply=%11 errors=%12 superseded=%13 replies=%14")
                  .arg(periodMs)
                  .arg(num(tool.elapsedS, 1))
                  .arg(cycles)
                  .arg(tool.expectedTicks)
                  .arg(ratio(double(cycles), double(tool.expectedTicks)))
                  .arg(tool.decodedTimes.size())
                  .arg(ratio(double(tool.decodedTimes.size()), double(cycles)))
                  .arg(tool.ticks)
                  .arg(tool.messages)
                  .arg(tool.totals.answered)
                  .arg(tool.totals.noReply)
                  .arg(tool.totals.errors())
                  .arg(tool.totals.superseded)
                  .arg(tool.stats.replies));

    const RefResult ref = referenceMaster(periodMs, cycles);
    const std::vector<double> toolLatencies =
        stampLatenciesMs(tool.sentStamps, tool.decodedTimes, std::int64_t(periodMs) * 1'000'000);
    const Spread t = spread(toolLatencies);
    const Spread h = spread(tool.handlerMs);
    const Spread f = spread(ref.latenciesMs);
    printLine(QStringLiteral("added_latency samples=%1 tool_p50_ms=%2 tool_p99_ms=%3 "
                             "tool_max_ms=%4 ref_samples=%5 ref_p50_ms=%6 ref_p99_ms=%7 "
                             "ref_max_ms=%8 p99_ratio=%9 handler_p50_ms=%10 handler_p99_ms=%11")
                  .arg(toolLatencies.size())
                  .arg(num(t.p50, 3))
                  .arg(num(t.p99, 3))
                  .arg(num(t.max, 3))
                  .arg(ref.latenciesMs.size())
                  .arg(num(f.p50, 3))
                  .arg(num(f.p99, 3))
                  .arg(num(f.max, 3))
                  .arg(ratio(t.p99, f.p99))
                  .arg(num(h.p50, 3))
                  .arg(num(h.p99, 3)));

    const double toolUs = cycles > 0 ? tool.cpuS / double(cycles) * 1e6 : 0;
    const double refUs = ref.sent > 0 ? ref.cpuS / double(ref.sent) * 1e6 : 0;
    printLine(QStringLiteral("cpu_per_cycle cycles=%1 tool_us=%2 ref_cycles=%3 ref_decoded=%4 "
                             "ref_us=%5 ratio=%6")
                  .arg(cycles)
                  .arg(num(toolUs, 1))
                  .arg(ref.sent)
                  .arg(ref.decoded)
                  .arg(num(refUs, 1))
                  .arg(ratio(toolUs, refUs)));
    return 0;
}

int idleMode(double seconds)
{
    SimProcess sim({QStringLiteral("--seed"), QStringLiteral("7")});
    if (!sim.ready())
        return 1;
    Rig rig(sim.ptyPath());
    const double cpu0 = cpuSeconds();
    const std::int64_t t0 = monotonicNs();
    runFor(int(seconds * 1000));
    const double cpu = cpuSeconds() - cpu0;
    const double elapsed = double(monotonicNs() - t0) / 1e9;
    printLine(QStringLiteral("idle_cpu seconds=%1 port_open=%2 cpu_s=%3 cpu_percent=%4")
                  .arg(num(elapsed, 1))
                  .arg(rig.link->isOpen() ? 1 : 0)
                  .arg(num(cpu, 4))
                  .arg(num(100 * cpu / elapsed, 3)));
    return 0;
}

int stressMode(double seconds)
{
    // Pieces of a reply spread over at most 34 gaps of 5 ms: 170 ms, inside a 200 ms period,
    // so every reply is whole before the next request discards the input.
    const int periodMs = 200;
    const PollResult r = poll(
        {QStringLiteral("--random-split"), QStringLiteral("--random-gap-max"), QStringLiteral("5")},
        periodMs, seconds);
    printLine(QStringLiteral("framing_stress period_ms=%1 elapsed_s=%2 replies_sent=%3 "
                             "receive_events=%4 decoded=%5 rejected=%6 decoded_ratio=%7")
                  .arg(periodMs)
                  .arg(num(r.elapsedS, 1))
                  .arg(r.stats.replies)
                  .arg(r.receives)
                  .arg(r.decodedTimes.size())
                  .arg(r.rejected)
                  .arg(ratio(double(r.decodedTimes.size()), double(r.stats.replies))));
    return 0;
}

// Time from each tick to the reply's last byte, in ms: how close the line runs to the period.
Spread replyEnds(const PollResult &r, int periodMs)
{
    return spread(stampLatenciesMs(r.tickTimes, r.sentStamps, std::int64_t(periodMs) * 1'000'000));
}

int paceMode(double seconds)
{
    QString text = QStringLiteral("line_pacing");
    struct Run
    {
        int baud;
        int periodMs;
    };
    // The last run cannot fit at all: its replies take longer than the period.
    for (const Run run : {Run{9600, 50}, Run{9600, 100}, Run{4800, 50}}) {
        const PollResult r = poll(pacedLineArguments(run.baud), run.periodMs, seconds);
        const Spread ends = replyEnds(r, run.periodMs);
        text += QStringLiteral(" b%1_p%2_wire_reply_end_ms=%3 b%1_p%2_sent=%4 b%1_p%2_decoded=%5 "
                               "b%1_p%2_rejected=%6 b%1_p%2_decoded_ratio=%7 "
                               "b%1_p%2_reply_end_ms_p50=%8 b%1_p%2_reply_end_ms_max=%9")
                    .arg(run.baud)
                    .arg(run.periodMs)
                    .arg(num(wireCycle(run.baud).replyEndMs, 1))
                    .arg(r.stats.requests)
                    .arg(r.decodedTimes.size())
                    .arg(r.rejected)
                    .arg(ratio(double(r.decodedTimes.size()), double(r.stats.requests)))
                    .arg(num(ends.p50, 1))
                    .arg(num(ends.max, 1));
    }
    printLine(text);
    return 0;
}

// The module sends a record every 10 ms to the window in upload mode: every
// record sent must be logged (lost=0), and a 10 ms single-shot probe, re-armed at
// each firing, tells how late the event loop serves a timer meanwhile.
int uploadsMode(double seconds)
{
    const int intervalMs = 10;
    SimProcess sim({QStringLiteral("--seed"), QStringLiteral("7"), QStringLiteral("--upload-ms"),
                    QString::number(intervalMs)});
    if (!sim.ready())
        return 1;
    Rig rig(sim.ptyPath());
    // With the port closed the module's records go nowhere and its count settles,
    // so every record counted from here on reaches the open port.
    rig.click("Command1");
    runFor(200);
    const SimProcess::Stats before = sim.stats();
    rig.click("Command3");
    rig.click("cmdCom");

    std::vector<double> lateness;
    std::int64_t armedAt = 0;
    QTimer probe;
    probe.setSingleShot(true);
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const std::int64_t now = monotonicNs();
        lateness.push_back(double(now - armedAt - 10'000'000) / 1e6);
        armedAt = monotonicNs();
        probe.start(10);
    });
    const double cpu0 = cpuSeconds();
    const std::int64_t t0 = monotonicNs();
    armedAt = t0;
    probe.start(10);
    runFor(int(seconds * 1000));
    probe.stop();
    const double cpu = cpuSeconds() - cpu0;
    const double elapsed = double(monotonicNs() - t0) / 1e9;
    // An hour's interval ends the records; the last one lands before the count.
    sim.command(QStringLiteral("set 11=3600"));
    const SimProcess::Stats after = sim.stats();
    runFor(300);
    sim.quit();
    const Spread late = spread(lateness);
    const long long sent = after.uploads - before.uploads;
    const long long lines = rig.log->document()->isEmpty() ? 0 : rig.log->blockCount();
    printLine(QStringLiteral("uploads interval_ms=%1 seconds=%2 records_sent=%3 lines_logged=%4 "
                             "lost=%5 probe_samples=%6 lateness_p50_ms=%7 lateness_p99_ms=%8 "
                             "lateness_max_ms=%9 cpu_percent=%10 messages=%11")
                  .arg(intervalMs)
                  .arg(num(elapsed, 1))
                  .arg(sent)
                  .arg(lines)
                  .arg(sent - lines)
                  .arg(lateness.size())
                  .arg(num(late.p50, 3))
                  .arg(num(late.p99, 3))
                  .arg(num(late.max, 3))
                  .arg(num(100 * cpu / elapsed, 2))
                  .arg(rig.messages.count));
    return 0;
}

// The module writes random bytes as fast as it can while the window sits with
// its start-up receive threshold of one byte, so every arrival is an event. How
// often a 10 ms timer still got its turn against how often it was due, the most
// deliveries handled in a row without it, memory grown from a quarter into the
// flood to its end, and whether a read works once the line is quiet.
int floodMode(double seconds)
{
    SimProcess sim({QStringLiteral("--fixed"), QStringLiteral("--seed"), QStringLiteral("7")});
    if (!sim.ready())
        return 1;
    const Expected expected = expectedFor(sim.registers());
    Rig rig(sim.ptyPath());
    long long deliveries = 0, linesLost = 0, fired = 0, run = 0, longestRun = 0;
    std::int64_t residentEarly = 0;
    QObject::connect(rig.link, &kc::Link::lost, rig.window.get(), [&] { ++linesLost; });
    QObject::connect(rig.link, &kc::Link::arrived, rig.window.get(), [&] {
        longestRun = std::max(longestRun, ++run);
        ++deliveries;
    });
    // First-use allocations are done a quarter into the flood.
    QTimer::singleShot(int(seconds * 250), [&] { residentEarly = residentBytes(); });
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] { ++fired, run = 0; });
    probe.start(10);
    sim.command(QStringLiteral("flood %1").arg(seconds));
    // "FLOOD bytes=N ms=M" once it is over.
    QString report;
    QEventLoop loop;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        report = sim.readLine(0);
        if (report.startsWith(QLatin1String("FLOOD ")))
            loop.quit();
    });
    watch.start(50);
    QTimer::singleShot(int(seconds * 1000) + 60000, &loop, &QEventLoop::quit);
    loop.exec();
    probe.stop();
    const std::int64_t residentLate = residentBytes();
    const long long bytes =
        report.section(QStringLiteral("bytes="), 1).section(' ', 0, 0).toLongLong();
    const long long floodMs = report.section(QStringLiteral("ms="), 1).toLongLong();

    const long long answered = rig.window->totals().answered;
    rig.request("comDoOnce");
    const bool readAfter = rig.window->totals().answered == answered + 1 && rig.shows(expected);
    printLine(QStringLiteral("line_flood ms=%1 bytes=%2 deliveries=%3 probe_fired=%4 probe_due=%5 "
                             "probe_ratio=%6 longest_run=%7 rss_growth_kib=%8 lines_lost=%9 "
                             "read_after=%10 messages=%11")
                  .arg(floodMs)
                  .arg(bytes)
                  .arg(deliveries)
                  .arg(fired)
                  .arg(floodMs / 10)
                  .arg(ratio(double(fired), double(floodMs / 10)))
                  .arg(longestRun)
                  .arg((residentLate - residentEarly) / 1024)
                  .arg(linesLost)
                  .arg(readAfter ? 1 : 0)
                  .arg(rig.messages.count));
    return 0;
}

// Each outcome sends the next single read at once, for `cycles` cycles against a
// module that answers as soon as a request is in. A cycle is decoded when the
// lamp is green and the boxes show exactly the module's reply; a foreign value is
// a box showing anything else once the first reply was shown; rejected cycles
// ended with the red lamp. The traffic log, three lines a cycle, is made to fill
// at half the run: memory grown a cycle is told from the end of the first tenth
// to the half (the log filling) and over the last two fifths (the log full,
// each line dropping the oldest), resident and heap.
int soakMode(long long cycles)
{
    SimProcess sim({QStringLiteral("--fixed"), QStringLiteral("--seed"), QStringLiteral("7"),
                    QStringLiteral("--frame-gap"), QStringLiteral("0.5")});
    if (!sim.ready())
        return 1;
    const Expected expected = expectedFor(sim.registers());
    Rig rig(sim.ptyPath());
    const long long linesPerCycle = 3; // request, reply, outcome
    rig.window->trafficLog()->setCapacity(int(cycles / 2 * linesPerCycle));
    struct Mark
    {
        long long cycle = 0;
        std::int64_t resident = 0;
        std::int64_t heap = 0;
    };
    const long long marks[] = {std::max(1LL, cycles / 10), cycles / 2, cycles * 3 / 5, cycles};
    std::vector<Mark> at;
    long long decoded = 0, foreign = 0, rejected = 0;
    const std::int64_t t0 = monotonicNs();
    for (long long cycle = 1; cycle <= cycles; ++cycle) {
        rig.request("comDoOnce");
        decoded += rig.shows(expected);
        rejected += rig.window->frontLamp() == QLatin1String("imgNotConnected");
        for (int i = 0; decoded > 0 && i < rig.values.size(); ++i)
            foreign += rig.values[i]->text() != expected.texts[i];
        if (std::find(std::begin(marks), std::end(marks), cycle) != std::end(marks))
            at.push_back({cycle, residentBytes(), heapBytes()});
    }
    const double elapsed = double(monotonicNs() - t0) / 1e9;
    const kc::OutcomeTotals &t = rig.window->totals();
    const auto perCycle = [&](std::size_t from, std::size_t to, std::int64_t Mark::*field) {
        if (to >= at.size() || at[to].cycle == at[from].cycle)
            return QStringLiteral("nan");
        return num(double(at[to].*field - at[from].*field) / double(at[to].cycle - at[from].cycle),
                   0);
    };
    printLine(QStringLiteral("soak cycles=%1 decoded=%2 foreign_values=%3 rejected=%4 answered=%5 "
                             "no_reply=%6 errors=%7 replies=%8 seconds=%9 cycles_per_s=%10 "
                             "rss_growth_kib=%11 messages=%12 log_lines=%13 log_capacity=%14 "
                             "filling_rss_bytes_per_cycle=%15 filling_heap_bytes_per_cycle=%16 "
                             "full_rss_bytes_per_cycle=%17 full_heap_bytes_per_cycle=%18")
                  .arg(cycles)
                  .arg(decoded)
                  .arg(foreign)
                  .arg(rejected)
                  .arg(t.answered)
                  .arg(t.noReply)
                  .arg(t.errors())
                  .arg(sim.stats().replies)
                  .arg(num(elapsed, 1))
                  .arg(num(double(cycles) / elapsed, 1))
                  .arg((at.back().resident - at.front().resident) / 1024)
                  .arg(rig.messages.count)
                  .arg(rig.window->trafficLog()->log().entries().size())
                  .arg(cycles / 2 * linesPerCycle)
                  .arg(perCycle(0, 1, &Mark::resident), perCycle(0, 1, &Mark::heap),
                       perCycle(2, 3, &Mark::resident), perCycle(2, 3, &Mark::heap)));
    return 0;
}

// Counts paint events per widget while polling: which parts of the window each
// cycle repaints, the largest share of the tool's CPU per cycle.
class PaintCensus : public QObject
{
public:
    QMap<QString, int> paints;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            QString name = watched->objectName();
            if (name.isEmpty())
                name = QString::fromLatin1(watched->metaObject()->className()) + QLatin1Char('@') +
                       (watched->parent() ? watched->parent()->objectName() : QString());
            ++paints[name];
        }
        return false;
    }
};

int paintsMode(double seconds)
{
    const int periodMs = 50;
    SimProcess sim({QStringLiteral("--fixed"), QStringLiteral("--seed"), QStringLiteral("7")});
    if (!sim.ready())
        return 1;
    Rig rig(sim.ptyPath());
    PaintCensus census;
    qApp->installEventFilter(&census);
    rig.setBox("txtTimerSet", QString::number(periodMs));
    rig.click("cmdOneM");
    runFor(int(seconds * 1000));
    rig.click("cmdStopOnce");
    qApp->removeEventFilter(&census);
    const long long cycles = sim.stats().requests;
    QString text = QStringLiteral("paint_census cycles=%1").arg(cycles);
    int total = 0;
    for (auto it = census.paints.cbegin(); it != census.paints.cend(); ++it) {
        total += it.value();
        if (it.value() >= cycles / 2)
            text += QStringLiteral(" %1=%2").arg(it.key(), num(double(it.value()) / cycles, 2));
    }
    text += QStringLiteral(" all_per_cycle=%1").arg(num(double(total) / cycles, 1));
    printLine(text);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    const double seconds = args.size() > 2 ? args[2].toDouble() : 0;
    if (mode == QLatin1String("poll"))
        return pollMode(seconds > 0 ? seconds : 60);
    if (mode == QLatin1String("idle"))
        return idleMode(seconds > 0 ? seconds : 20);
    if (mode == QLatin1String("stress"))
        return stressMode(seconds > 0 ? seconds : 60);
    if (mode == QLatin1String("pace"))
        return paceMode(seconds > 0 ? seconds : 20);
    if (mode == QLatin1String("paints"))
        return paintsMode(seconds > 0 ? seconds : 5);
    if (mode == QLatin1String("flood"))
        return floodMode(seconds > 0 ? seconds : 60);
    if (mode == QLatin1String("uploads"))
        return uploadsMode(seconds > 0 ? seconds : 10);
    // A count of cycles, not seconds.
    if (mode == QLatin1String("soak"))
        return soakMode(seconds > 0 ? static_cast<long long>(seconds) : 20000);
    std::fprintf(stderr,
                 "usage: %s poll|idle|stress|pace|flood|uploads|paints [SECONDS]\n"
                 "       %s soak [CYCLES]\n",
                 argv[0], argv[0]);
    return 2;
}
