#include "SimOptions.h"

#include "RegisterStore.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <getopt.h>

namespace kcsim {

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
    {"help", no_argument, nullptr, OptHelp},
    {nullptr, 0, nullptr, 0},
};

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
    return result;
}

std::string helpText(const std::string &program)
{
    return "Usage: " + program + R"( [options]

Simulated KC4420P module answering Modbus RTU on a pseudo-terminal.
Prints "PTY <path>" once the line is ready; stops on SIGINT, SIGTERM or "quit" on stdin.

Module:
  --address N            station address 1..250 (default 1)
  --model TEXT           device-information text, padded/cut to 11 (default KC4420P-V12)
  --set REG=WORD         initial word of register 0..14, repeatable (e.g. --set 0=65000)
  --fixed                no drift: temperature and humidity stay as set
  --seed N               seed for drift, random splits and faults (default: random)

Line:
  --device PATH          open PATH instead of creating a pseudo-terminal
  --link PATH            keep a symlink at PATH pointing to the current pseudo-terminal
  --frame-gap MS         silence that ends a request (default: 3.5 characters at the
                         baud-rate register, at least 2 ms)
  --control              accept commands on stdin, one per line:
                           drop, restore, silent on|off, noise on|off,
                           flood SECONDS, set REG=WORD, regs, stats, quit
                         (regs prints "REGS w0 .. w14"; a flood's end prints
                         "FLOOD bytes=N ms=M")
                         (end of stdin then also stops the simulator)

Replies:
  --reply-delay MS       wait before answering
  --stamp-replies        print "SENT <ns>" once a reply's last byte is written, with
                         the CLOCK_MONOTONIC time in nanoseconds (for latency benches)
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

Upload mode:
  --upload               send "[TTT.T,HHH.H]" records every interval register seconds
  --upload-ms MS         same, first interval in milliseconds (a write to the
                         interval register switches back to seconds)

  --help                 show this text
)";
}

} // namespace kcsim
