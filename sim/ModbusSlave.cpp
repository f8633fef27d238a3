#include "ModbusSlave.h"

#include "Crc16.h"

#include <utility>

namespace kcsim {

namespace {

std::uint16_t wordAt(const std::vector<std::uint8_t> &frame, std::size_t offset)
{
    return static_cast<std::uint16_t>((frame[offset] << 8) | frame[offset + 1]);
}

Outcome answered(std::vector<std::uint8_t> reply)
{
    Outcome outcome;
    outcome.reply = std::move(reply);
    return outcome;
}

Outcome ignored(Disposition disposition)
{
    Outcome outcome;
    outcome.disposition = disposition;
    return outcome;
}

} // namespace

ModbusSlave::ModbusSlave(RegisterStore &store, std::uint8_t address, std::string model)
    : m_store(store), m_address(address), m_model(std::move(model))
{
    m_model.resize(modbus::ModelTextLength, ' ');
}

Disposition ModbusSlave::screen(const std::vector<std::uint8_t> &frame) const
{
    if (frame.size() < 4)
        return Disposition::TooShort;
    if (!hasValidCrc(frame))
        return Disposition::BadCrc;

    const std::uint8_t station = frame[0];
    const std::uint8_t function = frame[1];
    const bool queryAddress = station == modbus::QueryAddress && function == modbus::ReadHolding;
    if (station != m_address && !queryAddress)
        return Disposition::OtherStation;
    const bool fixedLength = function == modbus::ReadHolding || function == modbus::WriteSingle;
    if (fixedLength && frame.size() != 8)
        return Disposition::Malformed;
    return Disposition::Answered;
}

Outcome ModbusSlave::handleFrame(const std::vector<std::uint8_t> &frame)
{
    const Disposition disposition = screen(frame);
    if (disposition != Disposition::Answered)
        return ignored(disposition);

    Outcome outcome;
    switch (frame[1]) {
    case modbus::ReadHolding:
        outcome = readHolding(frame);
        break;
    case modbus::WriteSingle:
        outcome = writeSingle(frame);
        break;
    case modbus::DeviceInfo:
        outcome = deviceInfo();
        break;
    default:
        outcome = exception(frame[1], modbus::IllegalFunction);
        break;
    }
    // A module answering as another station still sends a sound frame: only the
    // station byte is wrong, so the CRC is made over what goes out.
    if (m_quirks.answerAs >= 0 && !outcome.reply.empty()) {
        outcome.reply.resize(outcome.reply.size() - 2);
        outcome.reply[0] = static_cast<std::uint8_t>(m_quirks.answerAs);
        appendCrc(outcome.reply);
    }
    return outcome;
}

Outcome ModbusSlave::readHolding(const std::vector<std::uint8_t> &frame)
{
    const int start = wordAt(frame, 2);
    const int count = wordAt(frame, 4);
    if (count == 0)
        return exception(modbus::ReadHolding, modbus::IllegalValue);
    if (start + count > reg::Count)
        return exception(modbus::ReadHolding, modbus::IllegalAddress);

    std::vector<std::uint8_t> reply{m_address, modbus::ReadHolding,
                                    static_cast<std::uint8_t>(2 * count)};
    for (int i = start; i < start + count; ++i) {
        const std::uint16_t value = m_store.word(i);
        reply.push_back(static_cast<std::uint8_t>(value >> 8));
        reply.push_back(static_cast<std::uint8_t>(value & 0xFFu));
    }
    appendCrc(reply);
    return answered(std::move(reply));
}

Outcome ModbusSlave::writeSingle(const std::vector<std::uint8_t> &frame)
{
    if (m_quirks.refuseWrites > 0)
        return exception(modbus::WriteSingle, static_cast<std::uint8_t>(m_quirks.refuseWrites));
    const std::uint16_t address = wordAt(frame, 2);
    const std::uint16_t value = wordAt(frame, 4);

    if (address == modbus::AddressRegister) {
        if (value < 1 || value > 250)
            return exception(modbus::WriteSingle, modbus::IllegalValue);
        // The echo still leaves from the old address; the new one applies afterwards.
        if (!m_quirks.ignoreWrites)
            m_address = static_cast<std::uint8_t>(value);
        return answered(frame);
    }

    const int offset = address - modbus::FirstWritable;
    const int index = reg::TemperatureOffset + offset / 2;
    if (offset < 0 || offset % 2 != 0 || index >= reg::Count)
        return exception(modbus::WriteSingle, modbus::IllegalAddress);
    if (!RegisterStore::rejectReason(index, value).empty())
        return exception(modbus::WriteSingle, modbus::IllegalValue);

    Outcome outcome = answered(frame);
    if (!m_quirks.ignoreWrites) {
        m_store.setWord(index, value);
        outcome.writtenRegister = index;
    }
    return outcome;
}

Outcome ModbusSlave::deviceInfo()
{
    std::vector<std::uint8_t> reply{m_address, modbus::DeviceInfo,
                                    static_cast<std::uint8_t>(modbus::ModelTextLength)};
    for (const char c : m_model)
        reply.push_back(static_cast<std::uint8_t>(c));
    appendCrc(reply);
    return answered(std::move(reply));
}

Outcome ModbusSlave::exception(std::uint8_t function, std::uint8_t code) const
{
    std::vector<std::uint8_t> reply{m_address, static_cast<std::uint8_t>(function | 0x80u), code};
    appendCrc(reply);
    return answered(std::move(reply));
}

} // namespace kcsim
