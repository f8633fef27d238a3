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

// Upload records arrive on the module's schedule, often in pieces: the event
// fires at 12 bytes, so a record's closing bracket, or more of it, can come
// after the event. The framer keeps a partial record between events and skips
// whatever precedes a record's "[", so a late byte never shifts the next
// record out of place and no record is lost.
class UploadFramer
{
public:
    static constexpr int recordThreshold = 12;
    static constexpr int recordLength = 13;

    struct Step
    {
        QVector<UploadReadings> readings;
        int threshold; // bytes the next receive event should wait for
    };
    Step feed(const QByteArray &delivery);
    void reset() { m_partial.clear(); }

private:
    QByteArray m_partial;
};

// What one receive event changes on the window.
struct Delivery
{
    QString hex;                       // received-data box
    QVector<ValueText> values;         // kind 1: value boxes
    QVector<UploadReadings> uploads;   // kind 3: one log line each
    std::optional<int> address;        // kinds 5 and 6: address and station boxes
    std::optional<QString> deviceText; // kind 7
    bool rejected = false;             // kind 1 reply failed its CRC: red lamp, nothing decoded
    int rearm = 0;                     // kind 3: receive threshold for the next event
};

// Decodes one delivery as the reply to a request of kind cmdType. startRegister
// is the whole part of the start box (0 when it is not a number); a register
// read puts the word of register start + k into value box start + k. Upload
// records go through the framer, which keeps a partial record for the next
// delivery; without one, each delivery stands alone.
Delivery decodeDelivery(std::int16_t cmdType, const QByteArray &bytes, int startRegister,
                        UploadFramer *upload = nullptr);

// A register word as its row shows it: hundredths with the module's 65535 sign
// offset on rows 0, 1 and 3 to 8, plain unsigned integers elsewhere.
QString registerWordText(int index, std::uint16_t word);

// The reception counter stops at the top of its 32-bit range.
std::int32_t nextRecvCount(std::int32_t count);

// One upload record at the start of bytes (12 bytes: its closing bracket not
// yet arrived), or nothing when it is not one.
std::optional<UploadReadings> decodeUploadRecord(const QByteArray &bytes);

// Device-information text: one character per byte, always eleven characters.
QString deviceInfoText(const QByteArray &bytes);

} // namespace kc
