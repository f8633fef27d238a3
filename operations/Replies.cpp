#include "operations/Replies.h"

#include "operations/CodePage.h"
#include "operations/RegisterMap.h"
#include "protocol/Framing.h"

namespace kc {

namespace {

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

QString RegisterValue::text() const
{
    return valueText(row, value);
}

QVector<RegisterValue> registerValues(const Outcome &o)
{
    QVector<RegisterValue> values;
    if (!o.answered() || o.request.kind != RequestKind::RegisterRead)
        return values;
    const QByteArray &f = o.frame;
    // An odd byte count leaves its last byte unused.
    const int pairs = std::uint8_t(f[2]) / 2;
    for (int k = 0; k < pairs; ++k) {
        const int row = o.request.start + k;
        if (row >= registerCount)
            break;
        const auto word = std::uint16_t(std::uint8_t(f[3 + 2 * k]) << 8 | std::uint8_t(f[4 + 2 * k]));
        values.push_back({row, word, wordValue(row, word)});
    }
    return values;
}

std::optional<QString> deviceTextOf(const Outcome &o)
{
    if (!o.answered() || o.request.kind != RequestKind::DeviceInfo)
        return std::nullopt;
    QString text;
    text.reserve(11);
    for (int i = 3; i <= 13; ++i)
        text += localCharOf(std::uint8_t(o.frame[i]));
    return text;
}

std::optional<int> confirmedAddress(const Outcome &o)
{
    if (!o.answered())
        return std::nullopt;
    int address = -1;
    switch (o.request.kind) {
    case RequestKind::AddressRead:
    case RequestKind::RegisterWrite:
        address = o.station; // the station that answered
        break;
    case RequestKind::AddressChange:
        address = o.request.newAddress; // the reply confirmed it
        break;
    default:
        return std::nullopt;
    }
    if (address < 1 || address > 250)
        return std::nullopt;
    return address;
}

std::optional<UploadReadings> decodeUploadRecord(const QByteArray &bytes)
{
    if (bytes.size() < UploadFramer::recordLength || bytes[0] != '[' || bytes[12] != ']')
        return std::nullopt;
    const auto first = readingTenths(bytes, 1);
    const auto second = readingTenths(bytes, 7);
    if (!first || !second)
        return std::nullopt;
    return UploadReadings{readingText(*first), readingText(*second)};
}

} // namespace kc
