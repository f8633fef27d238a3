#pragma once

#include <vector>

namespace kcbench {

// 8N1: start bit, eight data bits, stop bit.
constexpr int bitsPerCharacter = 10;
constexpr int requestBytes = 8; // a register read
constexpr int replyBytes = 35;  // its reply with fifteen registers

double characterMs(int baud);

// The silence that ends a frame: 3.5 characters, fixed at 1.75 ms above 19200 baud.
double frameSilenceMs(int baud);

// One poll on the wire: the request, the module's silence before it answers, the
// reply, and the master's silence before its next request.
struct WireCycle
{
    int baud = 0;
    double requestMs = 0;
    double replyMs = 0;
    double silencesMs = 0;
    double totalMs = 0;
    // From the start of the request to the last bit of the reply: the earliest a
    // master can have the values.
    double replyEndMs = 0;
};

WireCycle wireCycle(int baud, int request = requestBytes, int reply = replyBytes);

const std::vector<int> &toolBaudRates();

// The simulator sits on a pseudo-terminal, where a request arrives at once and a
// paced byte is readable when its character starts. To end a reply when a line
// would, it waits for the request's own characters plus one before answering.
double pacedLineReplyDelayMs(int baud, int request = requestBytes);

} // namespace kcbench
