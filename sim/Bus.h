#pragma once

#include "ControlCommand.h"
#include "ModbusSlave.h"
#include "RegisterStore.h"
#include "SimOptions.h"

#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <vector>

namespace kcsim {

// One module on the line: its registers, its side of the conversation, its own drift.
struct Module
{
    Module(const ModuleSetup &setup, const std::string &model, std::uint32_t driftSeed);

    ModuleSetup setup; // as started, but for a rate written; the slave knows its address
    RegisterStore store;
    ModbusSlave slave;
    std::mt19937 driftRng;
};

// What goes back on the line for one request.
struct LineReply
{
    std::vector<std::uint8_t> bytes;          // empty when nobody answers
    std::vector<std::size_t> intervalWritten; // modules whose upload interval a write set
};

// A request from a master set to each module's own rate, such as the simulator's own.
constexpr int AnyRate = -1;

// The modules sharing one line. Every request reaches each of them; when more than
// one answers, their replies collide as they would on a real line.
class Bus
{
public:
    explicit Bus(const SimOptions &options);

    std::deque<Module> &modules() { return m_modules; }
    const std::deque<Module> &modules() const { return m_modules; }
    // Indexes of the modules at this address now, in the order they were set up.
    std::vector<std::size_t> at(int address) const;

    // Takes refuse, answer-as, ignore-writes, silent-once and collisions, for every
    // module; false for other commands. After silent-once, the next request some
    // module would answer goes unanswered and is not carried out.
    bool apply(const ControlCommand &command);

    // lineBaud: the rate the line is set to now, 0 when unknown, or AnyRate.
    LineReply handle(const std::vector<std::uint8_t> &frame, int lineBaud);

private:
    struct Answer
    {
        int station = 0; // the module's address as the request found it
        std::vector<std::uint8_t> bytes;
    };

    std::vector<std::uint8_t> resolve(std::vector<Answer> answers) const;
    std::vector<std::uint8_t> garbage(const std::vector<std::uint8_t> &frame);

    std::deque<Module> m_modules; // never moves, as each slave refers to its store
    Quirks m_quirks;
    CollisionMode m_collisions;
    bool m_wrongRateGarbage;
    std::mt19937 m_garbageRng;
    bool m_silentOnce = false;
};

// Several replies written at once: ORed byte by byte, never a frame with a good CRC.
std::vector<std::uint8_t> collide(const std::vector<std::vector<std::uint8_t>> &replies);

// The device-information text of the module at address: with several modules on the
// line, the first eight characters of the model and the address in three digits.
std::string modelText(const std::string &model, int address, bool several);

} // namespace kcsim
