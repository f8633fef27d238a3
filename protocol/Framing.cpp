#include "protocol/Framing.h"

namespace kc {

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
            step.records.push_back(data.mid(start, recordLength));
            pos = start + recordLength;
        } else {
            pos = start + 1; // a "[" that opens no record
        }
    }
    step.threshold = recordThreshold - int(m_partial.size());
    return step;
}

} // namespace kc
