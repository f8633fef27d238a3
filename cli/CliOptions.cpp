#include "cli/CliOptions.h"

#include "operations/Messages.h"
#include "operations/NumberText.h"
#include "operations/Outcomes.h"

#include <QCommandLineParser>

namespace kc {

namespace {

const QStringList commands = {QStringLiteral("ports"),       QStringLiteral("read"),
                              QStringLiteral("write"),       QStringLiteral("address"),
                              QStringLiteral("set-address"), QStringLiteral("info"),
                              QStringLiteral("poll"),        QStringLiteral("uploads")};

const char *const commandHelp = R"(
Commands:
  ports                       the 25 COMn names and the device each opens
  read [--start S] [--count C]
                              registers S..S+C-1 (default 0..14): row, caption,
                              value as the window shows it, raw word
  write ROW=VALUE ...         one write per pair (rows 3..14), each read back
                              and compared
  address                     the station-250 read: the address of the one
                              module on the line
  set-address NEW             change --station's address to NEW, then read at
                              NEW to confirm
  info                        the device-information text
  poll --period MS [--count N] [--csv FILE]
                              a read every period (0: back to back); one line
                              or CSV row per cycle; Ctrl+C stops it
  uploads [--seconds N] [--csv FILE]
                              the upload mode: one line per record with its
                              reception time; Ctrl+C stops it

Exit status: 0 every request answered; 2 an argument or value refused
(nothing sent); 3 no reply; 4 refused by the module; 5 a bad reply (checksum,
wrong station, incomplete, or a read-back that differs); 6 the port could not
be opened or was lost. A command that makes several requests exits with the
worst status it met.
)";

void addOptions(QCommandLineParser &p)
{
    p.setApplicationDescription(QStringLiteral(
        "Modbus RTU master for KA4420P, KB4420P and KC4420P temperature and humidity modules."));
    p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    p.addOptions({
        {QStringLiteral("port"), QStringLiteral("Device path or COMn (default COM1)."),
         QStringLiteral("DEV|COMn")},
        {QStringLiteral("baud"), QStringLiteral("2400, 4800, 9600, 19200 or 38400 (default 9600)."),
         QStringLiteral("BAUD")},
        {QStringLiteral("station"), QStringLiteral("Station address (default 1)."),
         QStringLiteral("N")},
        {QStringLiteral("timeout"), QStringLiteral("Response timeout, 20..10000 (default 1000)."),
         QStringLiteral("MS")},
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
         QStringLiteral("read: registers (default 15); poll: cycles (default: until stopped)."),
         QStringLiteral("C")},
        {QStringLiteral("period"), QStringLiteral("poll: milliseconds between reads."),
         QStringLiteral("MS")},
        {QStringLiteral("csv"), QStringLiteral("poll, uploads: also write rows to FILE."),
         QStringLiteral("FILE")},
        {QStringLiteral("seconds"), QStringLiteral("uploads: stop after N seconds."),
         QStringLiteral("N")},
    });
    p.addHelpOption();
    p.addVersionOption();
    p.addPositionalArgument(QStringLiteral("command"), QStringLiteral("See Commands below."),
                            QStringLiteral("COMMAND [ARGS...]"));
}

// A whole number in [low, high] from an option's text, or nothing.
std::optional<int> wholeIn(const QString &text, int low, int high)
{
    const auto value = numericValue(text);
    if (!value || *value != wholePart(*value))
        return std::nullopt;
    return intInRange(*value, low, high);
}

} // namespace

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
    if (!p.parse(argv)) {
        r.error = p.errorText();
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
        r.error = QStringLiteral("unknown command: ") + o.command;
        return r;
    }
    auto value = [&](const char *name) { return p.value(QString::fromLatin1(name)); };
    auto isSet = [&](const char *name) { return p.isSet(QString::fromLatin1(name)); };
    if (isSet("port"))
        o.port = value("port");
    if (isSet("baud")) {
        const auto baud = wholeIn(value("baud"), 2400, 38400);
        if (!baud || !QList<int>{2400, 4800, 9600, 19200, 38400}.contains(*baud)) {
            r.error = msg::baudRange;
            return r;
        }
        o.baud = *baud;
    }
    if (isSet("station"))
        o.station = value("station");
    if (isSet("timeout")) {
        const auto ms = wholeIn(value("timeout"), minTimeoutMs, maxTimeoutMs);
        if (!ms) {
            r.error = msg::timeoutRange;
            return r;
        }
        o.timeoutMs = *ms;
    }
    if (isSet("retries")) {
        const auto n = wholeIn(value("retries"), 0, 10);
        if (!n) {
            r.error = msg::retriesRange;
            return r;
        }
        o.retries = *n;
    }
    o.json = isSet("json");
    o.trace = isSet("trace");
    o.stats = isSet("stats");
    if (isSet("start"))
        o.start = value("start");
    if (isSet("count")) {
        if (o.command == QLatin1String("poll")) {
            const auto n = wholeIn(value("count"), 1, 1000000000);
            if (!n) {
                r.error = msg::badLength;
                return r;
            }
            o.pollCount = *n;
        } else {
            o.count = value("count");
        }
    }
    o.period = value("period");
    o.csv = value("csv");
    if (isSet("seconds")) {
        const auto s = numericValue(value("seconds"));
        if (!s || !(*s > 0)) {
            r.error = msg::periodNotNumber;
            return r;
        }
        o.seconds = *s;
    }
    return r;
}

} // namespace kc
