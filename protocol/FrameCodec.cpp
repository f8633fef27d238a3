#include "protocol/FrameCodec.h"

namespace kc {

namespace {
constexpr char hexDigits[] = "0123456789ABCDEF";
}

CrcBytes Crc16(const QByteArray &cmdstring, int j)
{
    std::uint16_t crc = 0xFFFF;
    const int last = j < cmdstring.size() ? j : int(cmdstring.size()) - 1;
    for (int i = 0; i <= last; ++i) {
        crc ^= std::uint8_t(cmdstring[i]);
        // Modbus processes each byte least significant bit first: reflected polynomial.
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? std::uint16_t((crc >> 1) ^ 0xA001) : std::uint16_t(crc >> 1);
    }
    return CrcBytes{crc & 0xFF, std::uint8_t(crc >> 8)};
}

std::uint16_t crc16Value(const char *data, int length)
{
    const CrcBytes c = Crc16(QByteArray::fromRawData(data, length), length - 1);
    return std::uint16_t(c.HiByte | (c.LoByte << 8));
}

bool crcHolds(const QByteArray &bytes, int length)
{
    if (length < 3 || bytes.size() < length)
        return false;
    const std::uint16_t crc = crc16Value(bytes.constData(), length - 2);
    return std::uint8_t(bytes[length - 2]) == (crc & 0xFF) &&
           std::uint8_t(bytes[length - 1]) == (crc >> 8);
}

QString FormatHex(std::uint8_t bb)
{
    const QChar digits[2] = {QLatin1Char(hexDigits[bb >> 4]), QLatin1Char(hexDigits[bb & 0x0F])};
    return QString(digits, 2);
}

QByteArray closeFrame(std::uint8_t station, std::uint8_t function, std::uint8_t b2, std::uint8_t b3,
                      std::uint8_t b4, std::uint8_t b5)
{
    QByteArray frame(8, '\0');
    frame[0] = char(station);
    frame[1] = char(function);
    frame[2] = char(b2);
    frame[3] = char(b3);
    frame[4] = char(b4);
    frame[5] = char(b5);
    const CrcBytes crc = Crc16(frame, 5);
    // The low-order byte of the CRC goes first on the wire.
    frame[6] = char(crc.HiByte);
    frame[7] = char(crc.LoByte);
    return frame;
}

QString sentTrace(const QByteArray &frame)
{
    QString text;
    text.reserve(frame.size() * 3);
    for (char b : frame) {
        text += FormatHex(std::uint8_t(b));
        text += QLatin1Char(' ');
    }
    return text;
}

QString receivedTrace(const QByteArray &bytes)
{
    QString text;
    text.reserve(bytes.size() * 3);
    for (char b : bytes) {
        text += QLatin1Char(' ');
        text += FormatHex(std::uint8_t(b));
    }
    return text;
}

} // namespace kc
