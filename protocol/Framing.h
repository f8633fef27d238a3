#pragma once

#include <QByteArray>
#include <QVector>

namespace kc {

// How many bytes a reply frame has, judged from its first bytes: 0 while too
// few have arrived to tell, -1 for a function whose reply this tool does not
// know. An exception reply (function | 0x80) has 5.
int replyFrameLength(const QByteArray &head);

// Milliseconds that bytes take on the wire at the baud rate, ten bits a byte
// (start, eight data bits, stop).
double wireMs(int bytes, int baud);

// Upload records ("[TTT.T,HHH.H]", 13 bytes) arrive on the module's schedule,
// often in pieces: the receive event fires at 12 bytes, so a record's closing
// bracket, or more of it, can come after the event. The framer keeps a partial
// record between events and skips whatever precedes a record's "[", so a late
// byte never shifts the next record out of place and no record is lost.
class UploadFramer
{
public:
    static constexpr int recordThreshold = 12;
    static constexpr int recordLength = 13;

    struct Step
    {
        // Each starts with "[" and holds 13 bytes, or 12 when its closing
        // bracket is the one byte not yet arrived at the end of a delivery.
        QVector<QByteArray> records;
        int threshold; // bytes the next receive event should wait for
    };
    Step feed(const QByteArray &delivery);
    void reset() { m_partial.clear(); }

private:
    QByteArray m_partial;
};

} // namespace kc
