#pragma once

#include "operations/Messages.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <variant>

namespace kc {

enum class RequestKind : std::int8_t {
    RegisterRead,    // function 3 or 4: count registers from start
    RegisterWrite,   // function 6: one writable row
    AddressRead,     // the station-250 read every module answers from its own address
    AddressChange,   // function 6 at register 0x0B00: the module's new address
    DeviceInfo,      // function 0x26: the device-information text
    UploadListening, // nothing sent: the module's own records are awaited
};

// What is asked of a module, as numbers; frame() encodes it.
struct Request
{
    RequestKind kind = RequestKind::RegisterRead;
    int station = 1;
    int function = 3;       // of a register read: 3 or 4
    int start = 0;          // a register read's first register
    int count = 0;          // a register read's number of registers
    int row = 0;            // the row a write goes to, 3..14
    std::uint16_t word = 0; // the word a write sends
    int newAddress = 0;     // an address change's new address

    static Request registerRead(int station, int start, int count, int function = 3);
    static Request registerWrite(int station, int row, std::uint16_t word);
    static Request addressRead();
    static Request addressChange(int station, int newAddress);
    static Request deviceInfo(int station);
    static Request uploadListening();

    // The eight bytes that go out, CRC last; empty when nothing is sent.
    QByteArray frame() const;
    // Bytes of the reply the request expects when it is answered.
    int replyLength() const;
    bool isBroadcast() const { return station == 0 && kind != RequestKind::UploadListening; }

    bool operator==(const Request &o) const;
    bool operator!=(const Request &o) const { return !(*this == o); }
};

using Planned = std::variant<Request, UserMessage>;

struct ReadBoxes
{
    QString station;
    QString function;
    QString start;
    QString count;
};

// Register read from the four request boxes.
Planned planRegisterRead(const ReadBoxes &boxes);

// Polling period in milliseconds from the period box, or its message.
std::variant<int, UserMessage> planPolling(const QString &period);

// Write of register buttonIndex + 3 with the text of its value box.
Planned planParameterWrite(int buttonIndex, const QString &value, const QString &station);

Planned planAddressChange(const QString &current, const QString &target);

Planned planDeviceInfo(const QString &station);

// The station a write or device-information request goes to: the box's number
// rounded to even, 0..255; nothing when the box is refused.
std::optional<int> writeStation(const QString &station);

} // namespace kc
