#pragma once

#include <string>

namespace kcsim {

enum class CommandKind {
    Drop,
    Restore,
    Silent,
    Noise,
    Flood,
    Stats,
    Quit,
    Empty,
    Invalid,
};

struct ControlCommand
{
    CommandKind kind = CommandKind::Invalid;
    bool on = false;     // silent / noise
    double seconds = 0;  // flood
    std::string problem; // why an Invalid line was refused
};

ControlCommand parseControlCommand(const std::string &line);

struct Stats
{
    unsigned long long requests = 0;
    unsigned long long replies = 0;
    unsigned long long ignored = 0;
    unsigned long long uploads = 0;
};

std::string formatStats(const Stats &stats);

} // namespace kcsim
