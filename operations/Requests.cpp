#include "operations/Requests.h"

#include "operations/NumberText.h"
#include "operations/RegisterMap.h"
#include "protocol/FrameCodec.h"

namespace kc {

namespace {

// A box that must hold one frame byte: numeric and, after its rounding, 0..255.
// Anything else is refused rather than sent as some other byte.
template <typename Round> std::optional<int> byteOf(const QString &text, Round round)
{
    const auto value = numericValue(text);
    if (!value)
        return std::nullopt;
    return intInRange(round(*value), 0, 255);
}

constexpr int addressReadStation = 0xFA;
constexpr std::uint16_t addressRegister = 0x0B00;

} // namespace

Request Request::registerRead(int station, int start, int count, int function)
{
    Request r;
    r.kind = RequestKind::RegisterRead;
    r.station = station;
    r.function = function;
    r.start = start;
    r.count = count;
    return r;
}

Request Request::registerWrite(int station, int row, std::uint16_t word)
{
    Request r;
    r.kind = RequestKind::RegisterWrite;
    r.station = station;
    r.function = 0x06;
    r.row = row;
    r.word = word;
    return r;
}

Request Request::addressRead()
{
    // Station 250 is the one every module answers, from its own address.
    Request r = registerRead(addressReadStation, 0, 1);
    r.kind = RequestKind::AddressRead;
    return r;
}

Request Request::addressChange(int station, int newAddress)
{
    Request r;
    r.kind = RequestKind::AddressChange;
    r.station = station;
    r.function = 0x06;
    r.newAddress = newAddress;
    return r;
}

Request Request::deviceInfo(int station)
{
    Request r;
    r.kind = RequestKind::DeviceInfo;
    r.station = station;
    r.function = 0x26;
    return r;
}

Request Request::uploadListening()
{
    Request r;
    r.kind = RequestKind::UploadListening;
    r.station = 0;
    r.function = 0;
    return r;
}

QByteArray Request::frame() const
{
    const auto s = std::uint8_t(station);
    switch (kind) {
    case RequestKind::RegisterRead:
    case RequestKind::AddressRead:
        // Start and count go out as 16-bit quantities whose high bytes are 0.
        return closeFrame(s, std::uint8_t(function), 0, std::uint8_t(start), 0,
                          std::uint8_t(count));
    case RequestKind::RegisterWrite: {
        const std::uint16_t address = writeAddress(row);
        return closeFrame(s, 0x06, std::uint8_t(address >> 8), std::uint8_t(address & 0xFF),
                          std::uint8_t(word >> 8), std::uint8_t(word & 0xFF));
    }
    case RequestKind::AddressChange:
        return closeFrame(s, 0x06, std::uint8_t(addressRegister >> 8),
                          std::uint8_t(addressRegister & 0xFF), 0, std::uint8_t(newAddress));
    case RequestKind::DeviceInfo:
        return closeFrame(s, 0x26, 0, 0, 0, 5);
    case RequestKind::UploadListening:
        break;
    }
    return {};
}

int Request::replyLength() const
{
    switch (kind) {
    case RequestKind::RegisterRead:
    case RequestKind::AddressRead:
        // Station, function, byte count, two bytes a register, the CRC.
        return 2 * count + 5;
    case RequestKind::RegisterWrite:
    case RequestKind::AddressChange:
        return 8;
    case RequestKind::DeviceInfo:
        return 16; // eleven text bytes
    case RequestKind::UploadListening:
        break;
    }
    return 0;
}

bool Request::operator==(const Request &o) const
{
    return kind == o.kind && station == o.station && function == o.function &&
           start == o.start && count == o.count && row == o.row && word == o.word &&
           newAddress == o.newAddress;
}

Planned planRegisterRead(const ReadBoxes &boxes)
{
    const auto station = byteOf(boxes.station, wholePart);
    if (!station)
        return UserMessage{msg::badStation};
    // Only the read functions: any other code in this box would write to the
    // module on every click and every polling tick.
    const auto function = byteOf(boxes.function, roundHalfEven);
    if (!function || (*function != 3 && *function != 4))
        return UserMessage{msg::badFunction};
    const auto count = numericValue(boxes.count);
    if (!count)
        return UserMessage{msg::badLength};
    const auto start = byteOf(boxes.start, wholePart);
    if (!start)
        return UserMessage{msg::badStart};
    const auto registers = intInRange(wholePart(*count), 1, registerCount);
    if (!registers)
        return UserMessage{msg::lengthRange};
    return Request::registerRead(*station, *start, *registers, *function);
}

std::variant<int, UserMessage> planPolling(const QString &period)
{
    const auto value = numericValue(period);
    if (!value)
        return UserMessage{msg::periodNotNumber};
    if (!intInRange(wholePart(*value), 50, 60000))
        return UserMessage{msg::periodRange};
    // 60000.5 passes the check rounded down and is set rounded to even: 60000.
    return int(roundHalfEven(*value));
}

std::optional<int> writeStation(const QString &station)
{
    return byteOf(station, roundHalfEven);
}

Planned planParameterWrite(int buttonIndex, const QString &value, const QString &station)
{
    const int k = buttonIndex + firstWritable;
    const auto word = encodeWrite(k, value);
    if (const auto *refusal = std::get_if<UserMessage>(&word))
        return *refusal;
    const auto stationByte = writeStation(station);
    if (!stationByte)
        return UserMessage{msg::badStation};
    return Request::registerWrite(*stationByte, k, std::get<std::uint16_t>(word));
}

Planned planAddressChange(const QString &current, const QString &target)
{
    const auto currentValue = numericValue(current);
    if (!currentValue)
        return UserMessage{msg::badCurrentAddress};
    const auto targetValue = numericValue(target);
    if (!targetValue)
        return UserMessage{msg::badTargetAddress};
    const double oldAddress = wholePart(*currentValue);
    const double newAddress = wholePart(*targetValue);
    // The current address may be 251..255 (a module outside the normal range
    // can still be moved back into it), but it must fit its byte.
    if (oldAddress == 0 || newAddress == 0 || oldAddress < 0 || newAddress < 0 || oldAddress > 255)
        return UserMessage{msg::addressRange};
    if (newAddress > 250)
        return UserMessage{msg::targetAddressRange};
    return Request::addressChange(int(oldAddress), int(newAddress));
}

Planned planDeviceInfo(const QString &station)
{
    const auto stationByte = writeStation(station);
    if (!stationByte)
        return UserMessage{msg::badStation};
    return Request::deviceInfo(*stationByte);
}

} // namespace kc
