#include "WireLimit.h"

namespace kcbench {

double characterMs(int baud)
{
    return bitsPerCharacter * 1000.0 / baud;
}

double frameSilenceMs(int baud)
{
    return baud > 19200 ? 1.75 : 3.5 * characterMs(baud);
}

WireCycle wireCycle(int baud, int request, int reply)
{
    WireCycle cycle;
    cycle.baud = baud;
    cycle.requestMs = request * characterMs(baud);
    cycle.replyMs = reply * characterMs(baud);
    cycle.silencesMs = 2 * frameSilenceMs(baud);
    cycle.totalMs = cycle.requestMs + cycle.replyMs + cycle.silencesMs;
    cycle.replyEndMs = cycle.requestMs + frameSilenceMs(baud) + cycle.replyMs;
    return cycle;
}

const std::vector<int> &toolBaudRates()
{
    static const std::vector<int> rates{2400, 4800, 9600, 19200, 38400};
    return rates;
}

double pacedLineReplyDelayMs(int baud, int request)
{
    return (request + 1) * characterMs(baud);
}

} // namespace kcbench
