#pragma once

#include "ControlCommand.h"

#include <functional>
#include <string>

namespace kcsim {

// Standard input and output as the simulator's control channel: lines in become
// commands, reports go out one line each, flushed at once so a controller
// waiting for one never waits on a buffer.
class ControlChannel
{
public:
    // Without enabled, only "quit" is taken; other commands are refused on stderr.
    explicit ControlChannel(bool enabled) : m_enabled(enabled) {}

    // Standard input while it is open, -1 once it ended.
    int fd() const;

    // Reads what standard input holds and hands each accepted command to run, which
    // returns false to stop reading. False once standard input has ended.
    bool read(const std::function<bool(const ControlCommand &)> &run);

    static void print(const std::string &line);

private:
    bool accepted(const ControlCommand &command) const;

    bool m_enabled;
    bool m_open = true;
    std::string m_buffer;
};

} // namespace kcsim
