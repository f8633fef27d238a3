#include "WireLimit.h"

#include <cstdio>
#include <cstring>

// Prints the least time one register poll takes on the wire at each baud rate the
// tool offers: one line for the bench log, or with --markdown the table for the
// performance notes.
int main(int argc, char **argv)
{
    using namespace kcbench;
    const bool markdown = argc > 1 && std::strcmp(argv[1], "--markdown") == 0;
    if (markdown) {
        std::printf("| baud | request (%d B) | reply (%d B) | 2 x t3.5 | cycle | reply ends |\n",
                    requestBytes, replyBytes);
        std::printf("|---:|---:|---:|---:|---:|---:|\n");
        for (const int baud : toolBaudRates()) {
            const WireCycle c = wireCycle(baud);
            std::printf("| %d | %.2f ms | %.2f ms | %.2f ms | **%.1f ms** | %.1f ms |\n", baud,
                        c.requestMs, c.replyMs, c.silencesMs, c.totalMs, c.replyEndMs);
        }
        return 0;
    }
    std::printf("wire_limit request_bytes=%d reply_bytes=%d bits_per_char=%d", requestBytes,
                replyBytes, bitsPerCharacter);
    for (const int baud : toolBaudRates())
        std::printf(" cycle_ms_%d=%.1f", baud, wireCycle(baud).totalMs);
    std::printf("\n");
    return 0;
}
