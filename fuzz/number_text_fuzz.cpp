// Any texts in the request boxes, through every request plan.
//
// Input: byte 0 picks the register row of a write; the rest is up to four box
// texts (UTF-8) split at 0x1F bytes.

#include "FuzzChecks.h"

#include "operations/NumberText.h"
#include "operations/RegisterMap.h"
#include "operations/Requests.h"
#include "protocol/FrameCodec.h"

#include <QList>

#include <cstddef>
#include <cstdint>

using fuzz::require;

namespace {

// A plan is a whole closed frame; a refusal carries a message and no frame.
void checkPlanned(const kc::Planned &planned, bool textsAreNumbers)
{
    if (const auto *request = std::get_if<kc::Request>(&planned)) {
        require(textsAreNumbers, "a frame from a text that is no number");
        const QByteArray frame = request->frame();
        require(frame.size() == 8 && kc::crcHolds(frame, 8), "a frame not closed");
        require(request->replyLength() > 0, "a request waiting for no reply");
    } else {
        require(!std::get<kc::UserMessage>(planned).text.isEmpty(), "a refusal without words");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const int row = kc::firstWritable + data[0] % (kc::registerCount - kc::firstWritable);
    const QList<QByteArray> parts =
        QByteArray(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1)).split('\x1F');
    QString box[4];
    for (int i = 0; i < 4; ++i)
        box[i] = QString::fromUtf8(parts.value(i, parts.value(0)));
    auto numbers = [&](std::initializer_list<int> boxes) {
        for (int i : boxes) {
            if (!kc::numericValue(box[i]))
                return false;
        }
        return true;
    };

    checkPlanned(kc::planRegisterRead({box[0], box[1], box[2], box[3]}), numbers({0, 1, 2, 3}));
    checkPlanned(kc::planParameterWrite(row - kc::firstWritable, box[0], box[1]), numbers({0, 1}));
    checkPlanned(kc::planAddressChange(box[0], box[1]), numbers({0, 1}));
    checkPlanned(kc::planDeviceInfo(box[0]), numbers({0}));
    const auto period = kc::planPolling(box[0]);
    if (const int *ms = std::get_if<int>(&period))
        require(*ms >= 50 && *ms <= 60001, "a period outside its range");

    // What a row shows for a word it accepted writes back as the same word.
    const auto word = kc::encodeWrite(row, box[0]);
    if (const auto *w = std::get_if<std::uint16_t>(&word)) {
        const auto back = kc::encodeWrite(row, kc::decodeWord(row, *w));
        if (const auto *again = std::get_if<std::uint16_t>(&back))
            require(*again == *w || *w == 65535, "a shown value writes back another word");
    }
    return 0;
}
