#pragma once

#include "operations/Outcomes.h"
#include "operations/Requests.h"

#include <QByteArray>

#include <variant>

namespace kc {

// Exception codes a relay answers with itself, without asking the line.
namespace relayException {
inline constexpr int illegalFunction = 0x01; // or writes not allowed
inline constexpr int illegalAddress = 0x02;
inline constexpr int illegalValue = 0x03;
inline constexpr int pathUnavailable = 0x0A; // no line for the unit id, or the line is down
inline constexpr int targetFailed = 0x0B;    // the module gave no answer
} // namespace relayException

// Another master's request for station, as a PDU (function code and data):
// the request it stands for, or the exception code that answers it unsent. A
// module's own functions only: register reads (3, 4), a write of a writable
// row (6, when writes are allowed, its value within the row's write check)
// and the device-information request.
std::variant<Request, int> relayedRequest(int station, const QByteArray &pdu, bool writesAllowed);

// The PDU that answers a relayed request: the module's answer or refusal as it
// came, or exception 0x0B when it gave neither.
QByteArray relayedAnswer(const Outcome &outcome);

// An exception PDU for the function of pdu.
QByteArray exceptionPdu(const QByteArray &pdu, int code);

} // namespace kc
