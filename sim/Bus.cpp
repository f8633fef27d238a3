#include "Bus.h"

#include "Crc16.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace kcsim {

namespace {

// About what a module would have sent: enough to pass for a reply read at a wrong rate.
std::size_t likelyReplyLength(const std::vector<std::uint8_t> &frame)
{
    if (frame[1] == modbus::ReadHolding)
        return 5 + 2 * std::min<std::size_t>(frame[5], reg::Count);
    return frame[1] == modbus::DeviceInfo ? 5 + modbus::ModelTextLength : 8;
}

} // namespace

Module::Module(const ModuleSetup &setup, const std::string &model, std::uint32_t driftSeed)
    : setup(setup), slave(store, static_cast<std::uint8_t>(setup.address), model),
      driftRng(driftSeed)
{
}

Bus::Bus(const SimOptions &options)
    : m_quirks(options.quirks), m_collisions(options.collisions),
      m_wrongRateGarbage(options.wrongRateGarbage), m_garbageRng(options.seed ^ 0x6A09E667u)
{
    const std::vector<ModuleSetup> setups =
        options.modules.empty() ? std::vector<ModuleSetup>{{options.address}} : options.modules;
    const bool several = setups.size() > 1;
    for (std::size_t i = 0; i < setups.size(); ++i) {
        // The first module drifts as a lone one always did; the others each their own way.
        const std::uint32_t seed =
            (options.seed ^ 0x5A5A5A5Au) + static_cast<std::uint32_t>(i) * 0x9E3779B9u;
        Module &module = m_modules.emplace_back(
            setups[i], modelText(options.model, setups[i].address, several), seed);
        for (const auto &[index, word] : options.initialWords)
            module.store.setWord(index, word);
        module.slave.setQuirks(m_quirks);
    }
}

std::vector<std::size_t> Bus::at(int address) const
{
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < m_modules.size(); ++i) {
        if (m_modules[i].slave.address() == address)
            found.push_back(i);
    }
    return found;
}

bool Bus::apply(const ControlCommand &command)
{
    switch (command.kind) {
    case CommandKind::Refuse:
        m_quirks.refuseWrites = command.value;
        break;
    case CommandKind::AnswerAs:
        m_quirks.answerAs = command.value;
        break;
    case CommandKind::IgnoreWrites:
        m_quirks.ignoreWrites = command.on;
        break;
    case CommandKind::SilentOnce:
        m_silentOnce = true;
        return true;
    case CommandKind::Collisions:
        m_collisions = command.collisions;
        return true;
    default:
        return false;
    }
    for (Module &module : m_modules)
        module.slave.setQuirks(m_quirks);
    return true;
}

LineReply Bus::handle(const std::vector<std::uint8_t> &frame, int lineBaud)
{
    // A module set to another rate hears only garbage, a silent one hears nothing;
    // with wrongRateGarbage, one at another rate answers what the master reads as garbage.
    std::vector<std::pair<std::size_t, bool>> takers; // module, heard at its own rate
    for (std::size_t i = 0; i < m_modules.size(); ++i) {
        const Module &module = m_modules[i];
        if (module.setup.silent || module.slave.screen(frame) != Disposition::Answered)
            continue;
        const bool hears =
            module.setup.baud == 0 || lineBaud == AnyRate || module.setup.baud == lineBaud;
        if (hears || m_wrongRateGarbage)
            takers.emplace_back(i, hears);
    }
    LineReply result;
    if (takers.empty() || std::exchange(m_silentOnce, false))
        return result;

    std::vector<Answer> answers;
    for (const auto &[i, hears] : takers) {
        Module &module = m_modules[i];
        const int station = module.slave.address();
        if (!hears) {
            answers.push_back({station, garbage(frame)});
            continue;
        }
        Outcome outcome = module.slave.handleFrame(frame);
        if (outcome.writtenRegister == reg::UploadInterval)
            result.intervalWritten.push_back(i);
        // A module held to one rate moves to the rate written, after its echo, as a
        // real one does; one that answers at any rate goes on doing so.
        if (outcome.writtenRegister == reg::BaudRate && module.setup.baud != 0)
            module.setup.baud = module.store.word(reg::BaudRate);
        if (outcome.reply.empty())
            continue;
        if (module.setup.badCrc)
            outcome.reply.back() ^= 0xFFu;
        answers.push_back({station, std::move(outcome.reply)});
    }
    result.bytes = resolve(std::move(answers));
    return result;
}

std::vector<std::uint8_t> Bus::resolve(std::vector<Answer> answers) const
{
    if (answers.empty())
        return {};
    if (answers.size() == 1)
        return std::move(answers.front().bytes);
    if (m_collisions == CollisionMode::First) {
        // Stable, so of two modules at one address the one set up first wins.
        const auto lowest =
            std::min_element(answers.begin(), answers.end(), [](const Answer &a, const Answer &b) {
                return a.station < b.station;
            });
        return std::move(lowest->bytes);
    }
    std::vector<std::vector<std::uint8_t>> replies;
    for (Answer &answer : answers)
        replies.push_back(std::move(answer.bytes));
    return collide(replies);
}

std::vector<std::uint8_t> Bus::garbage(const std::vector<std::uint8_t> &frame)
{
    std::vector<std::uint8_t> bytes(likelyReplyLength(frame));
    fillRandom(m_garbageRng, bytes);
    return bytes;
}

std::vector<std::uint8_t> collide(const std::vector<std::vector<std::uint8_t>> &replies)
{
    std::vector<std::uint8_t> line;
    for (const auto &reply : replies) {
        if (reply.size() > line.size())
            line.resize(reply.size(), 0);
        for (std::size_t i = 0; i < reply.size(); ++i)
            line[i] |= reply[i];
    }
    // ORing can, rarely, give one of the replies back whole; a collision must not pass
    // for an answer.
    if (hasValidCrc(line))
        line.back() ^= 0xFFu;
    return line;
}

std::string modelText(const std::string &model, int address, bool several)
{
    if (!several)
        return model;
    char digits[8];
    std::snprintf(digits, sizeof digits, "%03d", address);
    return model.substr(0, modbus::ModelTextLength - 3) + digits;
}

} // namespace kcsim
