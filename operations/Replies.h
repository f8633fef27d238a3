#pragma once

#include "operations/Requests.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <optional>

namespace kc {

class UploadFramer;

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
    QString hex;                       // received-data box
    QVector<ValueText> values;         // register read: value boxes
    QVector<UploadReadings> uploads;   // upload mode: one log line each
    std::optional<int> address;        // address change and station replies
    std::optional<QString> deviceText; // device information
    int rearm = 0;                     // upload mode: receive threshold for the next event
};

// Decodes one delivery as the reply to a request of the given kind. The
// delivery is taken as it is: what may be applied is the outcome's to say.
// startRegister is the first register the read asked for; a register read
// puts the word of register start + k into value box start + k. Upload
// records go through the framer, which keeps a partial record for the next
// delivery; without one, each delivery stands alone.
Delivery decodeDelivery(RequestKind kind, const QByteArray &bytes, int startRegister,
                        UploadFramer *upload = nullptr);

// One upload record at the start of bytes (12 bytes: its closing bracket not
// yet arrived), or nothing when it is not one.
std::optional<UploadReadings> decodeUploadRecord(const QByteArray &bytes);

// Device-information text: one character per byte, always eleven characters.
QString deviceInfoText(const QByteArray &bytes);

} // namespace kc
