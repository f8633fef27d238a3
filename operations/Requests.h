#pragma once

#include "operations/Messages.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <variant>

namespace kc {

// The kind of the last request (CmdType): its reply is decoded by it.
enum class RequestKind : std::int16_t {
    None = 0,
    RegisterRead = 1,
    Upload = 3,
    AddressChange = 5,
    Station = 6, // address read and parameter write
    DeviceInfo = 7,
};

// A validated request: the frame to write, the kind its reply is decoded as
// and the number of bytes that make the reply's receive event.
struct RequestPlan
{
    QByteArray frame;
    RequestKind kind;
    int threshold;
    int startRegister = 0; // a register read's first register: its reply's values start there
};

using Planned = std::variant<RequestPlan, UserMessage>;

struct ReadBoxes
{
    QString station;
    QString function;
    QString start;
    QString count;
};

// Register read from the four request boxes: reply of 2 x count + 5 bytes.
Planned planRegisterRead(const ReadBoxes &boxes);

// Polling period in milliseconds from the period box, or its message.
std::variant<int, UserMessage> planPolling(const QString &period);

// Write of register buttonIndex + 3 with the text of its value box.
Planned planParameterWrite(int buttonIndex, const QString &value, const QString &station);

// Read address: always FA 03 00 00 00 01 with its CRC, whatever the boxes say.
RequestPlan planAddressRead();

Planned planAddressChange(const QString &current, const QString &target);

Planned planDeviceInfo(const QString &station);

// The station a write or device-information request goes to: the box's number
// rounded to even, 0..255; nothing when the box is refused.
std::optional<int> writeStation(const QString &station);

// Active-upload mode sends nothing; this is its kind and threshold.
RequestPlan planUploadMode();

} // namespace kc
