#include "ControlCommand.h"

#include "RegisterStore.h"
#include "SimOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <utility>
#include <vector>

namespace kcsim {

namespace {

ControlCommand invalid(std::string problem)
{
    ControlCommand command;
    command.problem = std::move(problem);
    return command;
}

ControlCommand simple(CommandKind kind)
{
    ControlCommand command;
    command.kind = kind;
    return command;
}

} // namespace

ControlCommand parseControlCommand(const std::string &line)
{
    std::istringstream stream(line);
    std::vector<std::string> words;
    for (std::string word; stream >> word;)
        words.push_back(word);
    if (words.empty())
        return simple(CommandKind::Empty);

    const std::string &verb = words[0];
    if (verb == "drop" || verb == "restore" || verb == "kick" || verb == "stats" ||
        verb == "quit" || verb == "silent-once") {
        if (words.size() != 1)
            return invalid(verb + " takes no argument");
        if (verb == "drop")
            return simple(CommandKind::Drop);
        if (verb == "restore")
            return simple(CommandKind::Restore);
        if (verb == "kick")
            return simple(CommandKind::Kick);
        if (verb == "silent-once")
            return simple(CommandKind::SilentOnce);
        return simple(verb == "stats" ? CommandKind::Stats : CommandKind::Quit);
    }
    // With several modules on the line, a trailing station picks one of them.
    long station = -1;
    const bool set = verb == "set";
    if (set || verb == "regs") {
        const std::size_t fixed = set ? 2 : 1; // words before the station
        const bool withStation = words.size() == fixed + 1;
        if ((words.size() != fixed && !withStation) ||
            (withStation && !parseInteger(words.back(), 1, 250, station)))
            return invalid(set ? "set expects REG=WORD [STATION 1..250]"
                               : "regs expects [STATION 1..250]");
    }
    if (verb == "regs") {
        ControlCommand command = simple(CommandKind::Registers);
        command.station = static_cast<int>(station);
        return command;
    }
    if (set) {
        const std::string &assignment = words[1];
        const auto equals = assignment.find('=');
        if (equals == std::string::npos)
            return invalid("set expects REG=WORD [STATION 1..250]");
        long index = 0;
        long word = 0;
        if (!parseInteger(assignment.substr(0, equals), 0, reg::Count - 1, index))
            return invalid("set expects a register 0..14");
        if (!parseInteger(assignment.substr(equals + 1), 0, 65535, word))
            return invalid("set expects a word 0..65535");
        // The same words the module takes from --set, so a run can only reach states
        // the module itself could be in.
        const std::string reason =
            RegisterStore::rejectReason(static_cast<int>(index), static_cast<std::uint16_t>(word));
        if (!reason.empty())
            return invalid("set " + assignment + ": " + reason);
        ControlCommand command = simple(CommandKind::Set);
        command.index = static_cast<int>(index);
        command.word = static_cast<std::uint16_t>(word);
        command.station = static_cast<int>(station);
        return command;
    }
    if (verb == "silent" || verb == "noise" || verb == "ignore-writes" || verb == "echo") {
        if (words.size() != 2 || (words[1] != "on" && words[1] != "off"))
            return invalid(verb + " expects on or off");
        ControlCommand command = simple(verb == "silent"  ? CommandKind::Silent
                                        : verb == "noise" ? CommandKind::Noise
                                        : verb == "echo"  ? CommandKind::Echo
                                                          : CommandKind::IgnoreWrites);
        command.on = words[1] == "on";
        return command;
    }
    if (verb == "collisions") {
        ControlCommand command = simple(CommandKind::Collisions);
        if (words.size() != 2 || !parseCollisionMode(words[1], command.collisions))
            return invalid("collisions expects garble or first");
        return command;
    }
    if (verb == "crc-burst" || verb == "cut") {
        const bool burst = verb == "crc-burst";
        ControlCommand command = simple(burst ? CommandKind::CrcBurst : CommandKind::Cut);
        long value = 0;
        const bool ok =
            words.size() == 2 &&
            (words[1] == "off" || (burst ? parseBurst(words[1], command.value, command.length)
                                         : parseInteger(words[1], 1, 255, value)));
        if (!ok)
            return invalid(burst ? "crc-burst expects EVERY:LEN with 1 <= LEN <= EVERY, or off"
                                 : "cut expects a number of bytes 1..255 or off");
        if (!burst)
            command.value = static_cast<int>(value);
        return command;
    }
    if (verb == "refuse" || verb == "answer-as") {
        const bool refuse = verb == "refuse";
        ControlCommand command = simple(refuse ? CommandKind::Refuse : CommandKind::AnswerAs);
        long value = refuse ? 0 : -1;
        if (words.size() != 2 || (words[1] != "off" && !parseInteger(words[1], refuse, 255, value)))
            return invalid(refuse ? "refuse expects an exception code 1..255 or off"
                                  : "answer-as expects a station 0..255 or off");
        command.value = static_cast<int>(value);
        return command;
    }
    if (verb == "flood") {
        if (words.size() != 2)
            return invalid("flood expects a number of seconds");
        char *end = nullptr;
        errno = 0;
        const double seconds = std::strtod(words[1].c_str(), &end);
        if (errno != 0 || *end != '\0' || !std::isfinite(seconds) || seconds <= 0 || seconds > 3600)
            return invalid("flood expects seconds in (0, 3600]");
        ControlCommand command = simple(CommandKind::Flood);
        command.seconds = seconds;
        return command;
    }
    return invalid("unknown command '" + verb + "'");
}

std::string formatStats(const Stats &stats)
{
    return "STATS requests=" + std::to_string(stats.requests) +
           " replies=" + std::to_string(stats.replies) +
           " ignored=" + std::to_string(stats.ignored) +
           " uploads=" + std::to_string(stats.uploads) +
           " rx_bytes=" + std::to_string(stats.rxBytes) +
           " master_requests=" + std::to_string(stats.masterRequests) +
           " master_replies=" + std::to_string(stats.masterReplies);
}

std::string formatRegisters(const std::vector<std::uint16_t> &words)
{
    std::string line = "REGS";
    for (const std::uint16_t word : words)
        line += " " + std::to_string(word);
    return line;
}

std::string formatFloodReport(unsigned long long bytes, std::int64_t durationNs)
{
    return "FLOOD bytes=" + std::to_string(bytes) + " ms=" + std::to_string(durationNs / 1'000'000);
}

std::string formatSentStamp(std::int64_t monotonicNs)
{
    return "SENT " + std::to_string(monotonicNs);
}

} // namespace kcsim
