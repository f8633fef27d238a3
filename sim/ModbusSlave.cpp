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

Outcome ModbusSlave::handleFrame(const std::vector<std::uint8_t> &frame)
{
    if (frame.size() < 4)
        return ignored(Disposition::TooShort);
    if (!hasValidCrc(frame))
        return ignored(Disposition::BadCrc);

    const std::uint8_t station = frame[0];
    const std::uint8_t function = frame[1];
    const bool queryAddress = station == modbus::QueryAddress && function == modbus::ReadHolding;
    if (station != m_address && !queryAddress)
        return ignored(Disposition::OtherStation);

    switch (function) {
    case modbus::ReadHolding:
        return readHolding(frame);
    case modbus::WriteSingle:
        return writeSingle(frame);
    case modbus::DeviceInfo:
        return deviceInfo();
    default:
        return exception(function, modbus::IllegalFunction);
    }
}

Outcome ModbusSlave::readHolding(const std::vector<std::uint8_t> &frame)
{
    if (frame.size() != 8)
        return ignored(Disposition::Malformed);
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
    if (frame.size() != 8)
        return ignored(Disposition::Malformed);
    const std::uint16_t address = wordAt(frame, 2);
    const std::uint16_t value = wordAt(frame, 4);

    if (address == modbus::AddressRegister) {
        if (value < 1 || value > 250)
            return exception(modbus::WriteSingle, modbus::IllegalValue);
        // The echo still leaves from the old address; the new one applies afterwards.
        Outcome outcome = answered(frame);
        m_address = static_cast<std::uint8_t>(value);
        return outcome;
    }

    const int offset = address - modbus::FirstWritable;
    const int index = reg::TemperatureOffset + offset / 2;
    if (offset < 0 || offset % 2 != 0 || index >= reg::Count)
        return exception(modbus::WriteSingle, modbus::IllegalAddress);
    if (!RegisterStore::rejectReason(index, value).empty())
        return exception(modbus::WriteSingle, modbus::IllegalValue);

    m_store.setWord(index, value);
    Outcome outcome = answered(frame);
    outcome.writtenRegister = index;
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
