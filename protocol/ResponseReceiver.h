#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include <cstdint>
#include <optional>

namespace kc {

// Kinds of the last request (CmdType); the receiver decodes by it.
namespace RequestKind {
constexpr std::int16_t None = 0;
constexpr std::int16_t RegisterRead = 1;
constexpr std::int16_t Upload = 3;
constexpr std::int16_t AddressChange = 5;
constexpr std::int16_t Station = 6; // address read and parameter write
constexpr std::int16_t DeviceInfo = 7;
} // namespace RequestKind

struct ValueText
{
    int index;
    QString text;
    bool operator==(const ValueText &o) const { return index == o.index && text == o.text; }
};

// The two readings of an upload record, already written as the log shows them.
struct UploadReadings
{
    QString first;
    QString second;
};

// What one receive event changes on the window.
struct Delivery
{
    QString hex;                          // received-data box
    QVector<ValueText> values;            // kind 1: value boxes
    std::optional<UploadReadings> upload; // kind 3: one log line
    std::optional<int> address;           // kinds 5 and 6: address and station boxes
    std::optional<QString> deviceText;    // kind 7
    bool rejected = false;                // kind 1 reply failed its CRC: red lamp, nothing decoded
};

// Decodes one delivery as the reply to a request of kind cmdType. startRegister
// is the whole part of the start box (0 when it is not a number); a register
// read puts the word of register start + k into value box start + k.
Delivery decodeDelivery(std::int16_t cmdType, const QByteArray &bytes, int startRegister);

// A register word as its row shows it: hundredths with the module's 65535 sign
// offset on rows 0, 1 and 3 to 8, plain unsigned integers elsewhere.
QString registerWordText(int index, std::uint16_t word);

// The reception counter stops at the top of its 32-bit range.
std::int32_t nextRecvCount(std::int32_t count);

// One upload record (the first in a delivery), or nothing when it is not one.
std::optional<UploadReadings> decodeUploadRecord(const QByteArray &bytes);

// Device-information text: one character per byte, always eleven characters.
QString deviceInfoText(const QByteArray &bytes);

} // namespace kc
