#pragma once

#include "RegisterStore.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kcsim {

enum class Disposition {
    Answered,
    TooShort,
    BadCrc,
    OtherStation,
    Malformed,
};

struct Outcome
{
    Disposition disposition = Disposition::Answered;
    std::vector<std::uint8_t> reply;
    int writtenRegister = -1; // register index changed by a write, -1 when none
};

namespace modbus {
constexpr std::uint8_t ReadHolding = 0x03;
constexpr std::uint8_t WriteSingle = 0x06;
constexpr std::uint8_t DeviceInfo = 0x26;
constexpr std::uint8_t IllegalFunction = 0x01;
constexpr std::uint8_t IllegalAddress = 0x02;
constexpr std::uint8_t IllegalValue = 0x03;
constexpr std::uint8_t QueryAddress = 250; // a read sent here is answered by any module
constexpr std::uint16_t FirstWritable = 0x0A00;
constexpr std::uint16_t AddressRegister = 0x0B00;
constexpr int ModelTextLength = 11;
} // namespace modbus

// Faults a module can be set to show, all off by default.
struct Quirks
{
    int refuseWrites = 0;      // exception code for every write, 0: writes are taken
    bool ignoreWrites = false; // echo writes without storing them
    int answerAs = -1;         // station in the first byte of replies, -1: our own
};

// The module's side of the conversation: one complete frame in, at most one reply out.
class ModbusSlave
{
public:
    ModbusSlave(RegisterStore &store, std::uint8_t address, std::string model);

    int address() const { return m_address; }
    void setQuirks(const Quirks &quirks) { m_quirks = quirks; }
    // Answered when handleFrame() would answer, otherwise why not; changes nothing.
    Disposition screen(const std::vector<std::uint8_t> &frame) const;
    Outcome handleFrame(const std::vector<std::uint8_t> &frame);

private:
    Outcome readHolding(const std::vector<std::uint8_t> &frame);
    Outcome writeSingle(const std::vector<std::uint8_t> &frame);
    Outcome deviceInfo();
    Outcome exception(std::uint8_t function, std::uint8_t code) const;

    RegisterStore &m_store;
    std::uint8_t m_address;
    std::string m_model;
    Quirks m_quirks;
};

} // namespace kcsim
