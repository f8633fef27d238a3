// The least a master can do per poll, as a yardstick for the tool: sleep to the
// tick, drop stale input, write the request, read the 35-byte reply, check its CRC
// and format the fifteen numbers. POSIX only, no event loop, no window.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

std::int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void sleepUntil(std::int64_t ns)
{
    timespec deadline{time_t(ns / 1'000'000'000), long(ns % 1'000'000'000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

std::uint16_t crc16(const std::uint8_t *data, int length)
{
    std::uint16_t crc = 0xFFFF;
    for (int i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? std::uint16_t((crc >> 1) ^ 0xA001) : std::uint16_t(crc >> 1);
    }
    return crc;
}

// Rows 0, 1 and 3 to 8 are hundredths with the module's 65535 sign offset.
void formatWord(int index, std::uint16_t word, char *out, std::size_t size)
{
    int raw = word == 0xFFFF ? 0 : word;
    const bool hundredths = index <= 1 || (index >= 3 && index <= 8);
    if (!hundredths) {
        std::snprintf(out, size, "%d", raw);
        return;
    }
    if (raw > (index <= 1 ? 20000 : 32768))
        raw -= 65535;
    const int magnitude = raw < 0 ? -raw : raw;
    std::snprintf(out, size, "%s%d.%02d", raw < 0 ? "-" : "", magnitude / 100, magnitude % 100);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s PTY PERIOD_MS CYCLES STAMP_FILE\n", argv[0]);
        return 2;
    }
    const char *path = argv[1];
    const std::int64_t periodNs = std::atoll(argv[2]) * 1'000'000;
    const int cycles = std::atoi(argv[3]);

    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios settings{};
    if (fd < 0 || tcgetattr(fd, &settings) != 0) {
        std::perror(path);
        return 1;
    }
    cfmakeraw(&settings);
    cfsetspeed(&settings, B9600);
    tcsetattr(fd, TCSANOW, &settings);

    std::uint8_t request[8] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0F, 0, 0};
    const std::uint16_t requestCrc = crc16(request, 6);
    request[6] = std::uint8_t(requestCrc & 0xFF);
    request[7] = std::uint8_t(requestCrc >> 8);

    std::vector<std::int64_t> decodedAt;
    decodedAt.reserve(std::size_t(cycles));
    char texts[15][16];
    unsigned checksum = 0;
    int sent = 0;

    const double cpuStart = cpuSeconds();
    const std::int64_t start = monotonicNs();
    std::int64_t tick = start;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        tick += periodNs;
        sleepUntil(tick);
        tcflush(fd, TCIFLUSH);
        if (::write(fd, request, sizeof request) == ssize_t(sizeof request))
            ++sent;
        std::uint8_t reply[64];
        int got = 0;
        const std::int64_t deadline = tick + periodNs;
        while (got < 35) {
            const std::int64_t left = deadline - monotonicNs();
            if (left <= 0)
                break;
            pollfd line{fd, POLLIN, 0};
            if (poll(&line, 1, int((left + 999'999) / 1'000'000)) <= 0)
                continue;
            const ssize_t n = ::read(fd, reply + got, sizeof reply - std::size_t(got));
            if (n > 0)
                got += int(n);
        }
        if (got < 35 || crc16(reply, 33) != (reply[33] | (reply[34] << 8)))
            continue;
        for (int k = 0; k < 15; ++k)
            formatWord(k, std::uint16_t(reply[3 + 2 * k] << 8 | reply[4 + 2 * k]), texts[k],
                       sizeof texts[k]);
        decodedAt.push_back(monotonicNs());
        checksum += unsigned(texts[cycle % 15][0]);
    }
    const double cpu = cpuSeconds() - cpuStart;
    const double elapsed = double(monotonicNs() - start) / 1e9;

    FILE *stamps = std::fopen(argv[4], "w");
    if (stamps) {
        for (const std::int64_t t : decodedAt)
            std::fprintf(stamps, "%lld\n", static_cast<long long>(t));
        std::fclose(stamps);
    }
    std::printf("ref_master cycles=%d sent=%d decoded=%zu elapsed_s=%.1f cpu_s=%.4f check=%u\n",
                cycles, sent, decodedAt.size(), elapsed, cpu, checksum);
    return 0;
}
