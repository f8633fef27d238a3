#include "ControlCommand.h"

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
    if (verb == "drop" || verb == "restore" || verb == "stats" || verb == "quit") {
        if (words.size() != 1)
            return invalid(verb + " takes no argument");
        if (verb == "drop")
            return simple(CommandKind::Drop);
        if (verb == "restore")
            return simple(CommandKind::Restore);
        return simple(verb == "stats" ? CommandKind::Stats : CommandKind::Quit);
    }
    if (verb == "silent" || verb == "noise") {
        if (words.size() != 2 || (words[1] != "on" && words[1] != "off"))
            return invalid(verb + " expects on or off");
        ControlCommand command =
            simple(verb == "silent" ? CommandKind::Silent : CommandKind::Noise);
        command.on = words[1] == "on";
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
           " uploads=" + std::to_string(stats.uploads);
}

} // namespace kcsim
