#include "operations/Relay.h"

#include "operations/RegisterMap.h"

namespace kc {

namespace {

int wordAt(const QByteArray &pdu, int at)
{
    return std::uint8_t(pdu[at]) << 8 | std::uint8_t(pdu[at + 1]);
}

// The row a write's register address stands for, or -1.
int rowOfAddress(int address)
{
    for (int k = firstWritable; k < registerCount; ++k) {
        if (writeAddress(k) == address)
            return k;
    }
    return -1;
}

// The PDU of a request's frame: without the station and the CRC.
QByteArray pduOf(const Request &request)
{
    const QByteArray frame = request.frame();
    return frame.mid(1, frame.size() - 3);
}

} // namespace

std::variant<Request, int> relayedRequest(int station, const QByteArray &pdu, bool writesAllowed)
{
    using namespace relayException;
    const int function = pdu.isEmpty() ? -1 : std::uint8_t(pdu[0]);
    Request request;
    switch (function) {
    case 0x03:
    case 0x04: {
        if (pdu.size() != 5)
            return illegalValue;
        const int start = wordAt(pdu, 1), count = wordAt(pdu, 3);
        if (count < 1 || count > 125)
            return illegalValue;
        if (start > 0xFF || count > 0xFF)
            return illegalAddress; // beyond anything the module has
        request = Request::registerRead(station, start, count, function);
        break;
    }
    case 0x06: {
        if (!writesAllowed)
            return illegalFunction;
        if (pdu.size() != 5)
            return illegalValue;
        const int row = rowOfAddress(wordAt(pdu, 1));
        if (row < 0)
            return illegalAddress;
        const auto word = std::uint16_t(wordAt(pdu, 3));
        // The row's own write check, as for the value typed in the window.
        if (std::holds_alternative<UserMessage>(encodeWrite(row, decodeWord(row, word))))
            return illegalValue;
        request = Request::registerWrite(station, row, word);
        break;
    }
    case 0x26:
        request = Request::deviceInfo(station);
        break;
    default:
        return illegalFunction;
    }
    // Only what goes out byte for byte as asked.
    if (pduOf(request) != pdu)
        return illegalValue;
    return request;
}

QByteArray relayedAnswer(const Outcome &outcome)
{
    if ((outcome.kind == OutcomeKind::Answered || outcome.kind == OutcomeKind::Refused) &&
        outcome.frame.size() >= 4)
        return outcome.frame.mid(1, outcome.frame.size() - 3);
    return exceptionPdu(pduOf(outcome.request), relayException::targetFailed);
}

QByteArray exceptionPdu(const QByteArray &pdu, int code)
{
    const int function = pdu.isEmpty() ? 0 : std::uint8_t(pdu[0]);
    QByteArray answer;
    answer += char((function | 0x80) & 0xFF);
    answer += char(code);
    return answer;
}

} // namespace kc
