#include "protocol/Framing.h"

#include <cstdint>

namespace kc {

int replyFrameLength(const QByteArray &head)
{
    if (head.size() < 2)
        return 0;
    const auto function = std::uint8_t(head[1]);
    if (function & 0x80)
        return 5;
    switch (function) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
        // Station, function, byte count, the data, two CRC bytes.
        return head.size() < 3 ? 0 : 5 + std::uint8_t(head[2]);
    case 0x05:
    case 0x06:
    case 0x0F:
    case 0x10:
        return 8;
    case 0x26: // the module's device information: eleven text bytes
        return 16;
    default:
        return -1;
    }
}

double wireMs(int bytes, int baud)
{
    return baud > 0 ? bytes * 10 * 1000.0 / baud : 0;
}

UploadFramer::Step UploadFramer::feed(const QByteArray &delivery)
{
    const QByteArray data = m_partial + delivery;
    m_partial.clear();
    Step step;
    qsizetype pos = 0;
    for (qsizetype start; (start = data.indexOf('[', pos)) >= 0;) {
        if (data.size() - start < recordLength) {
            // Wait for the rest of this record rather than for a whole new one.
            m_partial = data.mid(start);
            break;
        }
        if (data[start + recordLength - 1] == ']') {
            step.records.push_back(data.mid(start, recordLength));
            pos = start + recordLength;
        } else {
            pos = start + 1; // a "[" that opens no record
        }
    }
    return step;
}

} // namespace kc
