#include "operations/Requests.h"

#include "operations/NumberText.h"
#include "operations/RegisterMap.h"
#include "protocol/FrameCodec.h"
#include "protocol/Framing.h"

#include <optional>

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

std::optional<int> stationByteRounded(const QString &text)
{
    return byteOf(text, roundHalfEven);
}

} // namespace

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

    // Start and count go out as 16-bit quantities whose high bytes are 0.
    return RequestPlan{closeFrame(std::uint8_t(*station), std::uint8_t(*function), 0,
                                  std::uint8_t(*start), 0, std::uint8_t(*registers)),
                       RequestKind::RegisterRead, 2 * *registers + 5, *start};
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

Planned planParameterWrite(int buttonIndex, const QString &value, const QString &station)
{
    const int k = buttonIndex + firstWritable;
    const auto word = encodeWrite(k, value);
    if (const auto *refusal = std::get_if<UserMessage>(&word))
        return *refusal;
    const auto stationByte = stationByteRounded(station);
    if (!stationByte)
        return UserMessage{msg::badStation};
    const std::uint16_t w = std::get<std::uint16_t>(word);
    const std::uint16_t address = writeAddress(k);
    return RequestPlan{closeFrame(std::uint8_t(*stationByte), 0x06, std::uint8_t(address >> 8),
                                  std::uint8_t(address & 0xFF), std::uint8_t(w >> 8),
                                  std::uint8_t(w & 0xFF)),
                       RequestKind::Station, 6};
}

RequestPlan planAddressRead()
{
    // Station 250 is the one every module answers, from its own address.
    return RequestPlan{closeFrame(0xFA, 0x03, 0, 0, 0, 1), RequestKind::Station, 6};
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
    return RequestPlan{
        closeFrame(std::uint8_t(oldAddress), 0x06, 0x0B, 0x00, 0x00, std::uint8_t(newAddress)),
        RequestKind::AddressChange, 6};
}

Planned planDeviceInfo(const QString &station)
{
    const auto stationByte = stationByteRounded(station);
    if (!stationByte)
        return UserMessage{msg::badStation};
    return RequestPlan{closeFrame(std::uint8_t(*stationByte), 0x26, 0, 0, 0, 5),
                       RequestKind::DeviceInfo, 16};
}

std::optional<int> writeStation(const QString &station)
{
    return stationByteRounded(station);
}

RequestPlan planUploadMode()
{
    // One less than the 13-byte record, so a record whose closing bracket is
    // still on the line is read all the same.
    return RequestPlan{{}, RequestKind::Upload, UploadFramer::recordThreshold};
}

} // namespace kc
