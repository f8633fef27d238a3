#include "protocol/ResponseReceiver.h"

#include "protocol/FrameCodec.h"

#include <limits>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace kc {

namespace {

constexpr int valueBoxes = 15;

// "#0.00" of hundredths, done in integers so no value picks up a binary
// rounding error on its way to the box.
QString hundredthsText(int hundredths)
{
    const bool negative = hundredths < 0;
    const int magnitude = negative ? -hundredths : hundredths;
    QString text = QString::number(magnitude / 100) + QLatin1Char('.') +
                   QStringLiteral("%1").arg(magnitude % 100, 2, 10, QLatin1Char('0'));
    return negative ? QLatin1Char('-') + text : text;
}

QVector<ValueText> decodeRegisterWords(const QByteArray &bytes, int startRegister)
{
    QVector<ValueText> values;
    const int n = std::uint8_t(bytes[2]);
    // Pairs lie at 3, 5, ... while i <= N + 1; an odd N leaves its last byte unused.
    for (int i = 3, k = 0; i <= n + 1 && i + 1 < bytes.size(); i += 2, ++k) {
        const int index = startRegister + k;
        if (index < 0 || index >= valueBoxes)
            continue;
        const auto word = std::uint16_t(std::uint8_t(bytes[i]) << 8 | std::uint8_t(bytes[i + 1]));
        values.push_back({index, registerWordText(index, word)});
    }
    return values;
}

bool registerReplyCrcOk(const QByteArray &bytes)
{
    const int n = std::uint8_t(bytes[2]);
    if (bytes.size() < 5 + n)
        return false;
    const std::uint16_t crc = crc16Value(bytes.constData(), 3 + n);
    return std::uint8_t(bytes[3 + n]) == (crc & 0xFF) && std::uint8_t(bytes[4 + n]) == (crc >> 8);
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

QChar byteAsChar(std::uint8_t b)
{
#ifdef Q_OS_WIN
    if (b >= 0x80) {
        const char in = char(b);
        wchar_t out = 0;
        if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, &in, 1, &out, 1) == 1)
            return QChar(char16_t(out));
    }
#endif
    return QChar(char16_t(b)); // Latin-1
}

} // namespace

QString registerWordText(int index, std::uint16_t word)
{
    int raw = word == 0xFFFF ? 0 : word;
    // The module stores negatives with an offset of 65535, so written values
    // read back unchanged; the thresholds are strict.
    if (index == 0 || index == 1) {
        if (raw > 20000)
            raw -= 65535;
        return hundredthsText(raw);
    }
    if (index >= 3 && index <= 8) {
        if (raw > 32768)
            raw -= 65535;
        return hundredthsText(raw);
    }
    return QString::number(raw);
}

std::int32_t nextRecvCount(std::int32_t count)
{
    return count == std::numeric_limits<std::int32_t>::max() ? count : count + 1;
}

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
        text += byteAsChar(std::uint8_t(bytes[i]));
    return text;
}

UploadFramer::Step UploadFramer::feed(const QByteArray &delivery)
{
    const QByteArray data = m_partial + delivery;
    m_partial.clear();
    Step step;
    qsizetype pos = 0;
    for (qsizetype start; (start = data.indexOf('[', pos)) >= 0;) {
        const qsizetype remaining = data.size() - start;
        if (remaining < recordThreshold) {
            // Wait for the rest of this record rather than for a whole new one.
            m_partial = data.mid(start);
            break;
        }
        if (remaining == recordThreshold || data[start + recordLength - 1] == ']') {
            if (const auto r = decodeUploadRecord(data.mid(start, recordLength)))
                step.readings.push_back(*r);
            pos = start + recordLength;
        } else {
            pos = start + 1; // a "[" that opens no record
        }
    }
    step.threshold = recordThreshold - int(m_partial.size());
    return step;
}

Delivery decodeDelivery(std::int16_t cmdType, const QByteArray &bytes, int startRegister,
                        UploadFramer *upload)
{
    Delivery d;
    d.hex = receivedTrace(bytes);
    switch (cmdType) {
    case RequestKind::RegisterRead:
        if (bytes.size() < 3)
            break;
        if (!registerReplyCrcOk(bytes)) {
            d.rejected = true;
            break;
        }
        d.values = decodeRegisterWords(bytes, startRegister);
        break;
    case RequestKind::Upload: {
        UploadFramer alone;
        const UploadFramer::Step step = (upload ? upload : &alone)->feed(bytes);
        d.uploads = step.readings;
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
    default:
        break;
    }
    return d;
}

} // namespace kc
