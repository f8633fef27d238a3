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
// often in pieces. The framer keeps a partial record between deliveries and
// skips whatever precedes a record's "[", so a late byte never shifts the next
// record out of place and no record is lost.
class UploadFramer
{
public:
    static constexpr int recordLength = 13;

    struct Step
    {
        // Each starts with "[" and ends with "]", 13 bytes.
        QVector<QByteArray> records;
    };
    Step feed(const QByteArray &delivery);
    void reset() { m_partial.clear(); }

private:
    QByteArray m_partial;
};

} // namespace kc
