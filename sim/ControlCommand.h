#pragma once

#include "SimOptions.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kcsim {

enum class CommandKind {
    Drop,
    Restore,
    Kick,
    Silent,
    Noise,
    Flood,
    Refuse,
    AnswerAs,
    SilentOnce,
    IgnoreWrites,
    Collisions,
    Echo,
    CrcBurst,
    Cut,
    Set,
    Registers,
    Stats,
    Quit,
    Empty,
    Invalid,
};

struct ControlCommand
{
    CommandKind kind = CommandKind::Invalid;
    bool on = false;    // silent / noise / ignore-writes / echo
    double seconds = 0; // flood
    int value = 0;      // refuse: code, 0 for off; answer-as: station, -1 for off;
                        // crc-burst: every, 0 for off; cut: bytes, 0 for off
    int length = 0;     // crc-burst: replies in a burst
    CollisionMode collisions = CollisionMode::Garble;
    int index = -1; // set: register 0..14
    std::uint16_t word = 0;
    int station = -1;    // set / regs: the module at this address, -1 for the default
    std::string problem; // why an Invalid line was refused
};

ControlCommand parseControlCommand(const std::string &line);

struct Stats
{
    unsigned long long requests = 0;
    unsigned long long replies = 0;
    unsigned long long ignored = 0;
    unsigned long long uploads = 0;
    unsigned long long rxBytes = 0; // everything the tool's side sent, requests or not
    unsigned long long masterRequests = 0;
    unsigned long long masterReplies = 0;
};

std::string formatStats(const Stats &stats);

// "SENT <ns>": when the last byte of a reply went to the line, on CLOCK_MONOTONIC.
std::string formatSentStamp(std::int64_t monotonicNs);

// "REGS w0 w1 ... w14": the stored words, for a controller that checks what a write left.
std::string formatRegisters(const std::vector<std::uint16_t> &words);

// Printed when a flood ends, so a controller can weigh what it saw against the
// flood's real length and volume.
std::string formatFloodReport(unsigned long long bytes, std::int64_t durationNs);

} // namespace kcsim
