#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace kc {

// Result holders of one checksum: HiByte is the CRC's LOW-order byte (sent
// first, at frame byte 6) and LoByte its high-order byte (byte 7).
struct CrcBytes
{
    int HiByte = 0;
    std::uint8_t LoByte = 0;
};

// CRC-16/MODBUS over elements 0..j of cmdstring; elements behind j are ignored,
// so it can run on a full frame before bytes 6 and 7 are filled. j = -1 covers
// nothing and yields 0xFFFF.
CrcBytes Crc16(const QByteArray &cmdstring, int j);

// The same checksum as one unsigned value, for reply checks.
std::uint16_t crc16Value(const char *data, int length);

// Whether the first length bytes end in the CRC of the bytes before it, low
// byte first. False when fewer than length bytes (or fewer than 3) are there.
bool crcHolds(const QByteArray &bytes, int length);

// A byte as exactly two upper-case hex digits, "00".."FF".
QString FormatHex(std::uint8_t bb);

// Completes a request: bytes 0..5 as given, then the CRC, low byte first.
QByteArray closeFrame(std::uint8_t station, std::uint8_t function, std::uint8_t b2, std::uint8_t b3,
                      std::uint8_t b4, std::uint8_t b5);

// Sent frames: each byte's two digits followed by one space ("01 03 ").
QString sentTrace(const QByteArray &frame);
// Received bytes: one space then the two digits for each byte (" 01 03").
QString receivedTrace(const QByteArray &bytes);

} // namespace kc
