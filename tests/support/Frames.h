#pragma once

#include "protocol/FrameCodec.h"

#include <QByteArray>

#include <initializer_list>

// Byte strings for tests, with the CRC from the codec under test only where
// the test is about something else (its own cross-check lives with the codec).
inline QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray b;
    for (int v : list)
        b.append(char(v));
    return b;
}

inline QByteArray withCrc(QByteArray body)
{
    const std::uint16_t crc = kc::crc16Value(body.constData(), int(body.size()));
    return body.append(char(crc & 0xFF)).append(char(crc >> 8));
}

// A function 3 reply carrying the given words.
inline QByteArray readReply(std::initializer_list<int> words, int station = 1)
{
    QByteArray body = bytes({station, 0x03, int(words.size()) * 2});
    for (int w : words)
        body.append(char(w >> 8)).append(char(w & 0xFF));
    return withCrc(body);
}
