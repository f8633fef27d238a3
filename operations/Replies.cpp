#include "operations/Replies.h"

#include "operations/CodePage.h"
#include "operations/RegisterMap.h"
#include "protocol/FrameCodec.h"
#include "protocol/Framing.h"

namespace kc {

namespace {

QVector<ValueText> decodeRegisterWords(const QByteArray &bytes, int startRegister)
{
    QVector<ValueText> values;
    const int n = std::uint8_t(bytes[2]);
    // Pairs lie at 3, 5, ... while i <= N + 1; an odd N leaves its last byte unused.
    for (int i = 3, k = 0; i <= n + 1 && i + 1 < bytes.size(); i += 2, ++k) {
        const int index = startRegister + k;
        if (index < 0 || index >= registerCount)
            continue;
        const auto word = std::uint16_t(std::uint8_t(bytes[i]) << 8 | std::uint8_t(bytes[i + 1]));
        values.push_back({index, decodeWord(index, word)});
    }
    return values;
}

// A reading's tenths: digits at hundreds, tens, units, then one position
// skipped for the decimal point. A "-" in the hundreds place is the module's
// sign for a negative reading.
std::optional<int> readingTenths(const QByteArray &record, int at)
{
    auto digit = [&](int pos) -> std::optional<int> {
        const char c = record[pos];
        if (c < '0' || c > '9')
            return std::nullopt;
        return c - '0';
    };
    const auto tens = digit(at + 1), units = digit(at + 2), tenths = digit(at + 4);
    if (!tens || !units || !tenths)
        return std::nullopt;
    const int magnitude = *tens * 100 + *units * 10 + *tenths;
    if (record[at] == '-')
        return -magnitude;
    const auto hundreds = digit(at);
    if (!hundreds)
        return std::nullopt;
    return *hundreds * 1000 + magnitude;
}

// At most one decimal and no trailing zero: 253 -> "25.3", 250 -> "25".
QString readingText(int tenths)
{
    const bool negative = tenths < 0;
    const int magnitude = negative ? -tenths : tenths;
    QString text = QString::number(magnitude / 10);
    if (magnitude % 10 != 0)
        text += QLatin1Char('.') + QString::number(magnitude % 10);
    return negative ? QLatin1Char('-') + text : text;
}

} // namespace

std::optional<UploadReadings> decodeUploadRecord(const QByteArray &bytes)
{
    // Twelve bytes is the threshold this mode arms, so a record whose closing
    // bracket has not arrived yet is still read; longer deliveries must be a
    // bracketed record at their start.
    if (bytes.size() < 12)
        return std::nullopt;
    if (bytes.size() >= 13 && (bytes[0] != '[' || bytes[12] != ']'))
        return std::nullopt;
    const auto first = readingTenths(bytes, 1);
    const auto second = readingTenths(bytes, 7);
    if (!first || !second)
        return std::nullopt;
    return UploadReadings{readingText(*first), readingText(*second)};
}

QString deviceInfoText(const QByteArray &bytes)
{
    QString text;
    text.reserve(11);
    for (int i = 3; i <= 13; ++i)
        text += localCharOf(std::uint8_t(bytes[i]));
    return text;
}

Delivery decodeDelivery(RequestKind kind, const QByteArray &bytes, int startRegister,
                        UploadFramer *upload)
{
    Delivery d;
    d.hex = receivedTrace(bytes);
    switch (kind) {
    case RequestKind::RegisterRead:
        if (bytes.size() >= 3)
            d.values = decodeRegisterWords(bytes, startRegister);
        break;
    case RequestKind::Upload: {
        UploadFramer alone;
        const UploadFramer::Step step = (upload ? upload : &alone)->feed(bytes);
        for (const QByteArray &record : step.records) {
            if (const auto r = decodeUploadRecord(record))
                d.uploads.push_back(*r);
        }
        d.rearm = step.threshold;
        break;
    }
    case RequestKind::AddressChange:
        // A module that echoes the change request carries the new address in
        // byte 5; byte 3 of that echo is the register's low address byte, 0.
        if (bytes.size() >= 6 && std::uint8_t(bytes[1]) == 0x06 && std::uint8_t(bytes[2]) == 0x0B &&
            bytes[3] == 0x00)
            d.address = std::uint8_t(bytes[5]);
        else if (bytes.size() >= 4)
            d.address = std::uint8_t(bytes[3]);
        break;
    case RequestKind::Station:
        if (!bytes.isEmpty())
            d.address = std::uint8_t(bytes[0]);
        break;
    case RequestKind::DeviceInfo:
        if (bytes.size() >= 14)
            d.deviceText = deviceInfoText(bytes);
        break;
    case RequestKind::None:
        break;
    }
    return d;
}

} // namespace kc
