#include "cli/CliOptions.h"

#include "operations/Messages.h"
#include "operations/NumberText.h"
#include "operations/Outcomes.h"
#include "operations/Scan.h"
#include "protocol/PortNaming.h"

#include <algorithm>

#include <QCommandLineParser>

namespace kc {

namespace {

const QStringList commands = {
    QStringLiteral("ports"),    QStringLiteral("read"),        QStringLiteral("write"),
    QStringLiteral("address"),  QStringLiteral("set-address"), QStringLiteral("info"),
    QStringLiteral("poll"),     QStringLiteral("uploads"),     QStringLiteral("scan"),
    QStringLiteral("snapshot"), QStringLiteral("apply"),       QStringLiteral("diagnose"),
    QStringLiteral("listen")};

const char *const commandHelp = R"(
Commands:
  ports                       the 25 COMn names and the device each opens
  read [--start S] [--count C]
                              registers S..S+C-1 (default S..14): row, caption,
                              value as the window shows it, raw word
  write ROW=VALUE ...         one write per pair (rows 3..14), each read back
                              and compared
  address                     the station-250 read: the address of the one
                              module on the line
  set-address NEW             change --station's address to NEW, then read at
                              NEW to confirm
  info                        the device-information text
  poll --period MS [--start S] [--count C] [--cycles N] [--csv FILE]
                              a read of registers S..S+C-1 (default S..14)
                              every period (0: back to back, else 50..60000);
                              one line or CSV row per cycle; N cycles, or
                              until Ctrl+C
  uploads [--seconds N] [--csv FILE]
                              the upload mode: one line per record with its
                              reception time; Ctrl+C stops it
  scan [--bauds LIST] [--stations LIST] [--probe-timeout MS] [--single]
                              find the modules on the line (default: all five
                              rates, stations 1-247, 100 ms): the station-250
                              read at each rate, then a read of register 0 at
                              each station (with --single, only at the rates
                              where the first read found no module alone);
                              one line per module found; Ctrl+C stops it
  snapshot [--template ROWS] FILE
                              --station's registers and device text as a JSON
                              snapshot; with --template only ROWS (3..14, e.g.
                              5-8,12), as a template
  apply FILE                  bring --station to a template (or a snapshot's
                              rows 3..14): write the rows that differ, each
                              read back, the baud-rate row last (then read at
                              the new rate); one line per row
  diagnose [--all-rates]      a short battery against --station: two
                              station-250 reads and eight reads at --baud
                              (with --all-rates, one and two at every other
                              rate), each answer timed, the adapter's echo
                              watched; prints what is wrong with the line and
                              what to do (exit status below); Ctrl+C stops it
  listen [--seconds N]        listen only, never send: another master's
                              requests and the replies to them, one line each,
                              decoded; each station's totals at Ctrl+C (or
                              after N seconds)

Exit status: 0 every request answered; 2 an argument or value refused
(nothing sent); 3 no reply; 4 refused by the module; 5 a bad reply (checksum,
wrong station, incomplete, or a read-back that differs); 6 the port could not
be opened or was lost; 7 an output file took no more rows. A command that
makes several requests exits with the worst status it met. A scan exits 0 when
it found a module, 3 when it found none. A diagnosis exits with the status
of its worst finding: 0 clean (or only notes), 10 the adapter echoes, 11
stray bytes before replies, 12 replies cut or late, 13 checksum errors, 14
answers at another rate only, 15 collisions, 16 silence; 2 and 6 as above.
)";

void addOptions(QCommandLineParser &p)
{
    p.setApplicationDescription(QStringLiteral(
        "Modbus RTU master for KA4420P, KB4420P and KC4420P temperature and humidity modules."));
    p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    p.addOptions({
        {QStringLiteral("port"),
         QStringLiteral("Device path, COMn, tcp://HOST:PORT (RTU bytes through a serial device "
                        "server) or modbus-tcp://HOST:PORT (Modbus TCP, unit id = station); "
                        "default COM1."),
         QStringLiteral("PORT")},
        {QStringLiteral("baud"), QStringLiteral("2400, 4800, 9600, 19200 or 38400 (default 9600)."),
         QStringLiteral("BAUD")},
        {QStringLiteral("station"), QStringLiteral("Station address (default 1)."),
         QStringLiteral("N")},
        {QStringLiteral("timeout"), QStringLiteral("Response timeout, 20..10000 (default 1000)."),
         QStringLiteral("MS")},
        {QStringLiteral("echo"),
         QStringLiteral("The adapter returns each request before the reply: auto (recognised "
                        "when it comes), on (always) or off (never) (default auto)."),
         QStringLiteral("auto|on|off")},
        {QStringLiteral("retries"),
         QStringLiteral("Repeat a request that got no reply or a bad one, 0..10 (default 0)."),
         QStringLiteral("N")},
        {QStringLiteral("json"), QStringLiteral("One JSON object per result on standard output.")},
        {QStringLiteral("trace"),
         QStringLiteral("Every frame sent and received, in hex with a time stamp, on standard "
                        "error.")},
        {QStringLiteral("stats"), QStringLiteral("After the command, the per-station totals.")},
        {QStringLiteral("start"), QStringLiteral("read, poll: first register (default 0)."),
         QStringLiteral("S")},
        {QStringLiteral("count"),
         QStringLiteral("read, poll: registers (default: from --start to the last row)."),
         QStringLiteral("C")},
        {QStringLiteral("cycles"), QStringLiteral("poll: cycles (default: until stopped)."),
         QStringLiteral("N")},
        {QStringLiteral("period"), QStringLiteral("poll: milliseconds between reads."),
         QStringLiteral("MS")},
        {QStringLiteral("csv"), QStringLiteral("poll, uploads: also write rows to FILE."),
         QStringLiteral("FILE")},
        {QStringLiteral("seconds"), QStringLiteral("uploads, listen: stop after N seconds."),
         QStringLiteral("N")},
        {QStringLiteral("bauds"),
         QStringLiteral("scan: rates to try (default 2400,4800,9600,19200,38400)."),
         QStringLiteral("LIST")},
        {QStringLiteral("stations"),
         QStringLiteral("scan: stations to probe, e.g. 1-40,200 (default 1-247)."),
         QStringLiteral("LIST")},
        {QStringLiteral("probe-timeout"),
         QStringLiteral("scan: wait for each probe's reply, 20..10000 (default 100)."),
         QStringLiteral("MS")},
        {QStringLiteral("single"),
         QStringLiteral("scan: the line holds one module; a clean answer to the station-250 "
                        "read settles its rate.")},
        {QStringLiteral("template"),
         QStringLiteral("snapshot: keep only these rows, as a template."), QStringLiteral("ROWS")},
        {QStringLiteral("all-rates"),
         QStringLiteral("diagnose: also try every other rate a module can have.")},
    });
    p.addHelpOption();
    p.addVersionOption();
    p.addPositionalArgument(QStringLiteral("command"), QStringLiteral("See Commands below."),
                            QStringLiteral("COMMAND [ARGS...]"));
}

} // namespace

QString CliOptions::registersToRead() const
{
    if (!count.isEmpty())
        return count;
    // Clamped as a double: a start far out of range is refused by the read's rules.
    const double first = wholePart(numericValue(start).value_or(0));
    return QString::number(int(std::clamp(registerCount - first, 1.0, double(registerCount))));
}

QString cliHelp()
{
    QCommandLineParser p;
    addOptions(p);
    return p.helpText() + QString::fromUtf8(commandHelp);
}

ParsedCli parseCli(const QStringList &argv)
{
    ParsedCli r;
    CliOptions &o = r.options;
    QCommandLineParser p;
    addOptions(p);
    const QString known = msg::cli::commands.arg(commands.join(QStringLiteral(", ")));
    if (!p.parse(argv)) {
        const QStringList unknown = p.unknownOptionNames();
        r.error = (unknown.isEmpty() ? msg::cli::badCommandLine.arg(p.errorText())
                                     : msg::cli::unknownOption.arg(
                                           (unknown.first().size() > 1 ? QStringLiteral("--")
                                                                       : QStringLiteral("-")) +
                                           unknown.first())) +
                  QLatin1Char('\n') + known;
        return r;
    }
    if (p.isSet(QStringLiteral("version"))) {
        r.version = true;
        return r;
    }
    const QStringList positional = p.positionalArguments();
    if (p.isSet(QStringLiteral("help")) || positional.isEmpty()) {
        r.helpText = cliHelp();
        return r;
    }
    o.command = positional.first();
    o.arguments = positional.mid(1);
    if (!commands.contains(o.command)) {
        r.error = msg::cli::unknownCommand.arg(o.command) + QLatin1Char('\n') + known;
        return r;
    }
    auto value = [&](const char *name) { return p.value(QString::fromLatin1(name)); };
    auto isSet = [&](const char *name) { return p.isSet(QString::fromLatin1(name)); };
    if (isSet("port")) {
        o.port = value("port");
        if (looksLikeNetworkAddress(o.port) && !networkAddress(o.port)) {
            r.error = msg::badNetworkPort;
            return r;
        }
    }
    if (isSet("baud")) {
        const auto baud = wholeNumberIn(value("baud"), moduleBauds().first(), moduleBauds().last());
        if (!baud || !moduleBauds().contains(*baud)) {
            r.error = msg::cli::baud.arg(value("baud"));
            return r;
        }
        o.baud = *baud;
    }
    if (isSet("station"))
        o.station = value("station");
    if (isSet("timeout")) {
        const auto ms = wholeNumberIn(value("timeout"), minTimeoutMs, maxTimeoutMs);
        if (!ms) {
            r.error = msg::cli::timeout.arg(value("timeout"));
            return r;
        }
        o.timeoutMs = *ms;
    }
    if (isSet("retries")) {
        const auto n = wholeNumberIn(value("retries"), 0, 10);
        if (!n) {
            r.error = msg::cli::retries.arg(value("retries"));
            return r;
        }
        o.retries = *n;
    }
    if (isSet("echo")) {
        const auto echo = echoModeFromKey(value("echo"));
        if (!echo) {
            r.error = msg::echoMode;
            return r;
        }
        o.echo = *echo;
    }
    o.json = isSet("json");
    o.trace = isSet("trace");
    o.stats = isSet("stats");
    if (isSet("start"))
        o.start = value("start");
    if (isSet("count"))
        o.count = value("count");
    if (isSet("cycles")) {
        const auto n = wholeNumberIn(value("cycles"), 1, 1000000000);
        if (!n) {
            r.error = msg::cli::cycles.arg(value("cycles"));
            return r;
        }
        o.cycles = *n;
    }
    o.singleModule = isSet("single");
    o.allRates = isSet("all-rates");
    o.period = value("period");
    o.csv = value("csv");
    if (isSet("seconds")) {
        const auto s = numericValue(value("seconds"));
        if (!s || !(*s > 0)) {
            r.error = msg::cli::seconds.arg(value("seconds"));
            return r;
        }
        o.seconds = *s;
    }
    for (const auto &[name, field] :
         {std::pair{"bauds", &o.bauds}, std::pair{"stations", &o.stations},
          std::pair{"probe-timeout", &o.probeTimeout}, std::pair{"template", &o.templateRows}}) {
        if (isSet(name))
            *field = value(name);
    }
    return r;
}

} // namespace kc
