#include "SimOptions.h"

#include "RegisterStore.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <getopt.h>

namespace kcsim {

bool parseInteger(const std::string &text, long low, long high, long &value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high)
        return false;
    value = parsed;
    return true;
}

bool parseBurst(const std::string &text, int &every, int &length)
{
    const auto colon = text.find(':');
    long first = 0;
    long second = 0;
    if (colon == std::string::npos || !parseInteger(text.substr(0, colon), 1, 1000000, first) ||
        !parseInteger(text.substr(colon + 1), 1, first, second))
        return false;
    every = static_cast<int>(first);
    length = static_cast<int>(second);
    return true;
}

bool parseCollisionMode(const std::string &text, CollisionMode &mode)
{
    if (text != "garble" && text != "first")
        return false;
    mode = text == "first" ? CollisionMode::First : CollisionMode::Garble;
    return true;
}

namespace {

enum OptionId {
    OptAddress = 1000,
    OptDevice,
    OptLink,
    OptModel,
    OptFixed,
    OptSet,
    OptSeed,
    OptFrameGap,
    OptReplyDelay,
    OptStampReplies,
    OptSplit,
    OptSplitGap,
    OptRandomSplit,
    OptRandomGapMax,
    OptPace,
    OptNoise,
    OptFlipEvery,
    OptDuplicateEvery,
    OptSilent,
    OptFlood,
    OptUpload,
    OptUploadMs,
    OptControl,
    OptRefuseWrites,
    OptAnswerAs,
    OptIgnoreWrites,
    OptStations,
    OptBadCrcStation,
    OptSilentStation,
    OptBaud,
    OptStationBaud,
    OptTwin,
    OptCollisions,
    OptTcp,
    OptStrayBefore,
    OptEcho,
    OptCrcBurst,
    OptCutReplies,
    OptWrongRateGarbage,
    OptMasterPoll,
    OptMasterStations,
    OptHelp,
};

const option longOptions[] = {
    {"address", required_argument, nullptr, OptAddress},
    {"device", required_argument, nullptr, OptDevice},
    {"link", required_argument, nullptr, OptLink},
    {"model", required_argument, nullptr, OptModel},
    {"fixed", no_argument, nullptr, OptFixed},
    {"set", required_argument, nullptr, OptSet},
    {"seed", required_argument, nullptr, OptSeed},
    {"frame-gap", required_argument, nullptr, OptFrameGap},
    {"reply-delay", required_argument, nullptr, OptReplyDelay},
    {"stamp-replies", no_argument, nullptr, OptStampReplies},
    {"split", required_argument, nullptr, OptSplit},
    {"split-gap", required_argument, nullptr, OptSplitGap},
    {"random-split", no_argument, nullptr, OptRandomSplit},
    {"random-gap-max", required_argument, nullptr, OptRandomGapMax},
    {"pace", required_argument, nullptr, OptPace},
    {"noise", no_argument, nullptr, OptNoise},
    {"flip-every", required_argument, nullptr, OptFlipEvery},
    {"duplicate-every", required_argument, nullptr, OptDuplicateEvery},
    {"silent", no_argument, nullptr, OptSilent},
    {"flood", required_argument, nullptr, OptFlood},
    {"upload", no_argument, nullptr, OptUpload},
    {"upload-ms", required_argument, nullptr, OptUploadMs},
    {"control", no_argument, nullptr, OptControl},
    {"refuse-writes", required_argument, nullptr, OptRefuseWrites},
    {"answer-as", required_argument, nullptr, OptAnswerAs},
    {"ignore-writes", no_argument, nullptr, OptIgnoreWrites},
    {"stations", required_argument, nullptr, OptStations},
    {"bad-crc-station", required_argument, nullptr, OptBadCrcStation},
    {"silent-station", required_argument, nullptr, OptSilentStation},
    {"baud", required_argument, nullptr, OptBaud},
    {"station-baud", required_argument, nullptr, OptStationBaud},
    {"twin", required_argument, nullptr, OptTwin},
    {"collisions", required_argument, nullptr, OptCollisions},
    {"tcp", required_argument, nullptr, OptTcp},
    {"stray-before", required_argument, nullptr, OptStrayBefore},
    {"echo", no_argument, nullptr, OptEcho},
    {"crc-burst", required_argument, nullptr, OptCrcBurst},
    {"cut-replies", required_argument, nullptr, OptCutReplies},
    {"wrong-rate-garbage", no_argument, nullptr, OptWrongRateGarbage},
    {"master-poll", required_argument, nullptr, OptMasterPoll},
    {"master-stations", required_argument, nullptr, OptMasterStations},
    {"help", no_argument, nullptr, OptHelp},
    {nullptr, 0, nullptr, 0},
};

bool parseNumber(const std::string &text, double low, double high, double &value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(parsed) || parsed < low || parsed > high)
        return false;
    value = parsed;
    return true;
}

std::int64_t msToNs(double ms)
{
    return static_cast<std::int64_t>(std::llround(ms * 1e6));
}

std::string parseSet(const std::string &text, SimOptions &options)
{
    const auto equals = text.find('=');
    long index = 0;
    long word = 0;
    if (equals == std::string::npos || !parseInteger(text.substr(0, equals), 0, 14, index) ||
        !parseInteger(text.substr(equals + 1), 0, 65535, word))
        return "--set expects REG=WORD with REG 0..14 and WORD 0..65535, got '" + text + "'";
    const std::string reason =
        RegisterStore::rejectReason(static_cast<int>(index), static_cast<std::uint16_t>(word));
    if (!reason.empty())
        return "--set " + text + ": " + reason;
    options.initialWords.emplace_back(static_cast<int>(index), static_cast<std::uint16_t>(word));
    return {};
}

bool parseBaud(const std::string &text, int &baud)
{
    long value = 0;
    const long rates[] = {2400, 4800, 9600, 19200, 38400};
    if (!parseInteger(text, 2400, 38400, value) || std::count(rates, rates + 5, value) == 0)
        return false;
    baud = static_cast<int>(value);
    return true;
}

// "HEX[:N]": N bytes (default 1) of one value, given in one or two hex digits.
bool parseStray(const std::string &text, ShapeSettings &shape)
{
    const auto colon = text.find(':');
    const std::string digits = text.substr(0, colon);
    long count = 1;
    if (digits.empty() || digits.size() > 2 ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos ||
        (colon != std::string::npos && !parseInteger(text.substr(colon + 1), 1, 255, count)))
        return false;
    shape.strayByte = static_cast<std::uint8_t>(std::stoul(digits, nullptr, 16));
    shape.strayCount = static_cast<int>(count);
    return true;
}

// "1,7,200", "1-40" or "1,5-8": addresses 1..250, each once, in the order given.
bool parseStationList(const std::string &text, std::vector<int> &stations)
{
    if (text.find_first_not_of("0123456789,-") != std::string::npos)
        return false;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string::npos)
            comma = text.size();
        const std::string item = text.substr(start, comma - start);
        const std::size_t dash = item.find('-');
        long first = 0;
        long last = 0;
        if (!parseInteger(item.substr(0, dash), 1, 250, first))
            return false;
        if (dash == std::string::npos)
            last = first;
        else if (!parseInteger(item.substr(dash + 1), first, 250, last))
            return false;
        for (long address = first; address <= last; ++address) {
            if (std::count(stations.begin(), stations.end(), address) != 0)
                return false;
            stations.push_back(static_cast<int>(address));
        }
        start = comma + 1;
    }
    return true;
}

// What the per-station options asked for, applied once the modules are known.
struct StationOptions
{
    bool addressGiven = false;
    std::vector<int> addresses;
    std::vector<std::pair<std::string, int>> twins;         // option text, station
    std::vector<std::pair<std::string, ModuleSetup>> asked; // option text, what it sets
};

std::string setUpModules(const StationOptions &lineSetup, SimOptions &options)
{
    if (lineSetup.addressGiven && !lineSetup.addresses.empty())
        return "--address and --stations cannot be combined";
    for (const int address :
         lineSetup.addresses.empty() ? std::vector<int>{options.address} : lineSetup.addresses)
        options.modules.push_back({address, options.baud, false, false});
    const auto atStation = [&](int address) {
        return std::count_if(options.modules.begin(), options.modules.end(),
                             [&](const ModuleSetup &m) { return m.address == address; });
    };
    // A twin is one more module at a station already taken, after all the others.
    for (const auto &[text, address] : lineSetup.twins) {
        if (atStation(address) == 0)
            return text + ": no module at station " + std::to_string(address);
        options.modules.push_back({address, options.baud, false, false});
    }
    // A station's setting holds for every module there, its twin included.
    for (const auto &[text, ask] : lineSetup.asked) {
        if (atStation(ask.address) == 0)
            return text + ": no module at station " + std::to_string(ask.address);
        for (ModuleSetup &module : options.modules) {
            if (module.address != ask.address)
                continue;
            module.baud = ask.baud != 0 ? ask.baud : module.baud;
            module.badCrc = module.badCrc || ask.badCrc;
            module.silent = module.silent || ask.silent;
        }
    }
    return {};
}

bool printableAscii(const std::string &text)
{
    for (const char c : text) {
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return true;
}

} // namespace

ParseResult parseOptions(const std::vector<std::string> &args)
{
    ParseResult result;
    SimOptions &options = result.options;

    std::vector<std::string> storage(args);
    std::vector<char *> argv;
    for (auto &arg : storage)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(storage.size());

    StationOptions lineSetup;
    optind = 0; // full reset, so parsing can run more than once per process
    opterr = 0;
    for (;;) {
        int longIndex = -1;
        const int id = getopt_long(argc, argv.data(), "", longOptions, &longIndex);
        if (id == -1)
            break;
        const std::string value = optarg ? optarg : "";
        const std::string name = longIndex >= 0 ? std::string("--") + longOptions[longIndex].name
                                 : (optind > 0 && optind <= argc) ? storage[optind - 1]
                                                                  : std::string();
        long integer = 0;
        double number = 0;
        bool ok = true;
        switch (id) {
        case OptAddress:
            ok = parseInteger(value, 1, 250, integer);
            options.address = static_cast<int>(integer);
            lineSetup.addressGiven = true;
            break;
        case OptDevice:
            options.device = value;
            ok = !value.empty();
            break;
        case OptLink:
            options.link = value;
            ok = !value.empty();
            break;
        case OptModel:
            options.model = value;
            ok = printableAscii(value);
            break;
        case OptFixed:
            options.fixed = true;
            break;
        case OptSet:
            result.error = parseSet(value, options);
            if (!result.error.empty())
                return result;
            break;
        case OptSeed:
            ok = parseInteger(value, 0, 4294967295L, integer);
            options.seed = static_cast<std::uint32_t>(integer);
            options.seedGiven = true;
            break;
        case OptFrameGap:
            ok = parseNumber(value, 0.1, 1000, options.frameGapMs);
            break;
        case OptReplyDelay:
            ok = parseNumber(value, 0, 600000, options.replyDelayMs);
            break;
        case OptStampReplies:
            options.stampReplies = true;
            break;
        case OptSplit:
            ok = parseInteger(value, 1, 256, integer);
            options.shape.splitBytes = static_cast<int>(integer);
            break;
        case OptSplitGap:
            ok = parseNumber(value, 0, 60000, number);
            options.shape.splitGapNs = msToNs(number);
            break;
        case OptRandomSplit:
            options.shape.randomSplit = true;
            break;
        case OptRandomGapMax:
            ok = parseNumber(value, 0, 60000, number);
            options.shape.randomGapMaxNs = msToNs(number);
            break;
        case OptPace:
            ok = parseInteger(value, 50, 4000000, integer);
            options.shape.paceBaud = static_cast<int>(integer);
            break;
        case OptNoise:
            options.noise = true;
            break;
        case OptFlipEvery:
            ok = parseInteger(value, 1, 1000000, integer);
            options.shape.flipEvery = static_cast<int>(integer);
            break;
        case OptDuplicateEvery:
            ok = parseInteger(value, 1, 1000000, integer);
            options.shape.duplicateEvery = static_cast<int>(integer);
            break;
        case OptSilent:
            options.silent = true;
            break;
        case OptFlood:
            ok = parseNumber(value, 0.001, 3600, options.floodSeconds);
            break;
        case OptUpload:
            options.upload = true;
            break;
        case OptUploadMs:
            ok = parseNumber(value, 1, 3600000, options.uploadMs);
            options.upload = true;
            break;
        case OptControl:
            options.control = true;
            break;
        case OptRefuseWrites:
            ok = parseInteger(value, 1, 255, integer);
            options.quirks.refuseWrites = static_cast<int>(integer);
            break;
        case OptAnswerAs:
            ok = parseInteger(value, 0, 255, integer);
            options.quirks.answerAs = static_cast<int>(integer);
            break;
        case OptIgnoreWrites:
            options.quirks.ignoreWrites = true;
            break;
        case OptStations:
            lineSetup.addresses.clear();
            ok = parseStationList(value, lineSetup.addresses);
            break;
        case OptBadCrcStation:
        case OptSilentStation:
            ok = parseInteger(value, 1, 250, integer);
            lineSetup.asked.push_back(
                {name + " " + value,
                 {static_cast<int>(integer), 0, id == OptBadCrcStation, id == OptSilentStation}});
            break;
        case OptBaud:
            ok = parseBaud(value, options.baud);
            break;
        case OptStationBaud: {
            const auto equals = value.find('=');
            ModuleSetup ask;
            ok = equals != std::string::npos &&
                 parseInteger(value.substr(0, equals), 1, 250, integer) &&
                 parseBaud(value.substr(equals + 1), ask.baud);
            ask.address = static_cast<int>(integer);
            lineSetup.asked.push_back({name + " " + value, ask});
            break;
        }
        case OptTwin:
            ok = parseInteger(value, 1, 250, integer);
            lineSetup.twins.push_back({name + " " + value, static_cast<int>(integer)});
            break;
        case OptCollisions:
            ok = parseCollisionMode(value, options.collisions);
            break;
        case OptTcp:
            ok = parseInteger(value, 0, 65535, integer);
            options.tcpPort = static_cast<int>(integer);
            break;
        case OptStrayBefore:
            ok = parseStray(value, options.shape);
            break;
        case OptEcho:
            options.echo = true;
            break;
        case OptCrcBurst:
            ok = parseBurst(value, options.shape.burstEvery, options.shape.burstLength);
            break;
        case OptCutReplies:
            ok = parseInteger(value, 1, 255, integer);
            options.shape.cutBytes = static_cast<int>(integer);
            break;
        case OptWrongRateGarbage:
            options.wrongRateGarbage = true;
            break;
        case OptMasterPoll:
            ok = parseNumber(value, 1, 3600000, options.masterPollMs);
            break;
        case OptMasterStations:
            options.masterStations.clear();
            ok = parseStationList(value, options.masterStations);
            break;
        case OptHelp:
            options.help = true;
            break;
        default:
            result.error = "unknown option or missing value: " + name;
            return result;
        }
        if (!ok) {
            result.error = "invalid value for " + name + ": '" + value + "'";
            return result;
        }
    }
    if (optind < argc)
        result.error = "unexpected argument: " + storage[static_cast<std::size_t>(optind)];
    else if (options.tcpPort >= 0 && (!options.device.empty() || !options.link.empty()))
        result.error = "--tcp cannot be combined with --device or --link";
    else if (!options.masterStations.empty() && options.masterPollMs <= 0)
        result.error = "--master-stations needs --master-poll";
    else
        result.error = setUpModules(lineSetup, options);
    return result;
}

std::string helpText(const std::string &program)
{
    return "Usage: " + program + R"( [options]

Simulated KC4420P module answering Modbus RTU on a pseudo-terminal (or over TCP).
Prints "PTY <path>" (or "TCP <port>") once the line is ready; stops on SIGINT,
SIGTERM or "quit" on stdin.

Module:
  --address N            station address 1..250 (default 1)
  --stations LIST        several modules on the line instead, e.g. 1,7,200 or 1-40 or
                         1,5-8; each with its own registers and drift, and the model
                         text's first 8 characters plus its address in 3 digits
                         (KC4420P-007). When several answer one request (the
                         station-250 read, two at one address) their replies collide:
                         one write of them ORed bytewise, never with a valid CRC
  --twin N               one more module at station N, answering alongside the
                         first, repeatable; per-station options act on both
  --collisions MODE      what replies colliding become: garble (default, as above)
                         or first: the lowest station's reply goes out whole and
                         the others are lost, as when the stronger driver wins
  --model TEXT           device-information text, padded/cut to 11 (default KC4420P-V12)
  --set REG=WORD         initial word of register 0..14, repeatable (e.g. --set 0=65000)
  --fixed                no drift: temperature and humidity stay as set
  --seed N               seed for drift, random splits and faults (default: random)
  --baud B               answer only requests sent at B (2400, 4800, 9600, 19200 or
                         38400), as the line's settings show it (default: any rate);
                         the baud-rate register is left as it is, but a write to
                         it moves the module to the rate written
  --station-baud N=B     the same for station N alone, repeatable

Line:
  --device PATH          open PATH instead of creating a pseudo-terminal
  --link PATH            keep a symlink at PATH pointing to the current pseudo-terminal
  --tcp PORT             RTU frames over TCP instead, as through a serial device
                         server: listen on 127.0.0.1:PORT (0: a free port) and print
                         "TCP <port>"; up to 4 clients share the one line, each gets
                         the replies to its own requests, taken one exchange at a
                         time; upload records and other traffic go to all of them.
                         A request ends once its function's length is in, however
                         it was cut or joined; the line's rate is --baud, if given
  --frame-gap MS         silence that ends a request (default: 3.5 characters at the
                         baud-rate register, at least 2 ms)
  --control              accept commands on stdin, one per line:
                           drop, restore, kick, silent on|off, silent-once,
                           noise on|off, flood SECONDS, refuse CODE|off,
                           answer-as N|off, ignore-writes on|off,
                           collisions garble|first, echo on|off,
                           crc-burst EVERY:LEN|off, cut N|off,
                           set REG=WORD [N], regs [N], stats, quit
                         (drop: with --tcp every client is closed and none is let in
                         until restore; kick: every client is closed, new ones are
                         let in; silent-once: no answer, and no action, to the next
                         request that would be answered; set acts on station N, or on
                         every module; regs prints "REGS w0 .. w14" of station N, or
                         of the first module; a flood's end prints
                         "FLOOD bytes=N ms=M"; stats prints
                         "STATS requests=N replies=N ignored=N uploads=N rx_bytes=N
                         master_requests=N master_replies=N" for the whole line, a
                         collision as one reply, rx_bytes all the tool's side sent)
                         (end of stdin then also stops the simulator)

Replies:
  --reply-delay MS       wait before answering
  --stamp-replies        print "SENT <ns>" once a reply's last byte is written, with
                         the CLOCK_MONOTONIC time in nanoseconds taken just before
                         that write (for latency benches)
  --split N              write replies in pieces of N bytes ...
  --split-gap MS         ... with this gap between pieces
  --random-split         cut each reply into random pieces with random gaps
  --random-gap-max MS    longest random gap (default 5)
  --pace BAUD            one character every 10 bit-times at BAUD

Faults:
  --silent               never answer
  --noise                random noise bytes between replies
  --flip-every N         flip one bit in every Nth reply
  --duplicate-every N    send every Nth reply twice in one write
  --flood SECONDS        at start, write random bytes as fast as possible
  --refuse-writes CODE   answer every write with exception CODE 1..255, store nothing
  --ignore-writes        echo writes as usual but store nothing
  --answer-as N          put station N (0..255) in replies' first byte; requests are
                         still taken at the module's own address
  --bad-crc-station N    station N's replies carry a wrong CRC, repeatable
  --silent-station N     station N never answers, repeatable
  --stray-before HEX[:N] N bytes (default 1) of value HEX before every reply, as
                         a line without bias resistors shows (e.g. FF:2)
  --echo                 every request comes back to its sender as it arrives,
                         before the reply, as from an adapter without automatic
                         direction control
  --crc-burst EVERY:LEN  checksum errors in bursts: the last LEN of every EVERY
                         replies carry one flipped bit (e.g. 20:3)
  --cut-replies N        every reply loses its last N bytes (its first byte stays)
  --wrong-rate-garbage   with --baud or --station-baud, a request at another rate is
                         answered with random bytes about as long as the reply,
                         instead of silence; the request is not carried out
  --master-poll MS       another master on the line: every MS ms the simulator
                         writes a request of its own (mostly reads of registers
                         0..14, some of 0..1, a write of register 5 with the word
                         it holds, one to a station nobody answers) and then, after
                         the turnaround, the module's reply, both paced like replies,
                         for a tool that listens; faults act on these replies too
  --master-stations LIST whom it polls, as for --stations (default: every module)

Upload mode:
  --upload               send "[TTT.T,HHH.H]" records every interval register seconds
                         (each module on the line its own)
  --upload-ms MS         same, first interval in milliseconds (a write to the
                         interval register switches back to seconds)

  --help                 show this text
)";
}

} // namespace kcsim
