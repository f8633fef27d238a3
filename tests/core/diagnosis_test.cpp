#include "operations/Diagnosis.h"
#include "support/Frames.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <functional>

using namespace kc;

namespace {

const Request addressRead = Request::addressRead();
const Request read15 = Request::registerRead(1, 0, 15);

QByteArray answerTo(const Request &r, int station = 1)
{
    if (r.kind == RequestKind::AddressRead)
        return readReply({station}, station);
    QList<int> words(15, 0x0100);
    QByteArray body = bytes({station, 0x03, 30});
    for (int w : words)
        body.append(char(w >> 8)).append(char(w & 0xFF));
    return withCrc(body);
}

QByteArray garbled(QByteArray frame)
{
    frame[4] = char(frame[4] ^ 0x10);
    return frame;
}

// What a probe brought, as the engine judges it; late: only after the deadline.
struct Heard
{
    QByteArray bytes;
    double ms = 5;
    bool late = false;
    bool echoed = false;
};

// The diagnosis's battery: two station-250 reads and eight reads at 9600,
// and with all rates one and two at each other rate.
QVector<Probe> battery(bool allRates,
                       const std::function<Heard(int baud, const Request &, int)> &hear)
{
    QVector<Probe> probes;
    for (const int baud : {9600, 2400, 4800, 19200, 38400}) {
        const bool port = baud == 9600;
        if (!port && !allRates)
            break;
        for (int i = 0; i < (port ? 10 : 3); ++i) {
            const Request &r = i < (port ? 2 : 1) ? addressRead : read15;
            const Heard h = hear(baud, r, i);
            Probe p;
            p.baud = baud;
            p.echoed = h.echoed;
            p.heard = (h.echoed ? r.frame() : QByteArray()) + h.bytes;
            if (h.late) {
                p.outcome.request = r;
            } else {
                p.outcome = *judgeReply(r, h.bytes, true);
                p.outcome.responseMs = h.ms;
            }
            probes << p;
        }
    }
    return probes;
}

} // namespace

// Each fault of the line from what its probes bring, the worst finding first,
// with the figure that goes with it (stray bytes, longest run, the module's
// rate, the address that answered).
TEST(Diagnosis, FindingsFromWhatTheProbesBrought)
{
    struct Case
    {
        const char *findings;
        int value;
        bool allRates;
        std::function<Heard(int, const Request &, int)> hear;
    };
    const Case cases[] = {
        {"clean", -1, false, [](int, const Request &r, int) { return Heard{answerTo(r)}; }},
        {"echo", -1, false,
         [](int, const Request &r, int) {
             return Heard{answerTo(r), 5, false, true};
         }},
        {"stray_bytes", 2, false,
         [](int, const Request &r, int) { return Heard{"\xFF\xFF" + answerTo(r)}; }},
        // Reads 3 and 4 of eight garbled, as by a burst of noise.
        {"checksum_bursts", 2, false,
         [](int, const Request &r, int i) {
             return Heard{i == 4 || i == 5 ? garbled(answerTo(r)) : answerTo(r)};
         }},
        {"cut_or_late", -1, false,
         [](int, const Request &r, int) { return Heard{answerTo(r).chopped(2)}; }},
        {"cut_or_late", -1, false,
         [](int, const Request &r, int) {
             return Heard{answerTo(r), 80};
         }},
        {"cut_or_late", -1, false,
         [](int, const Request &r, int) {
             return Heard{answerTo(r), 5, true};
         }},
        // Two modules at station 1 answer everything, the station-250 read too.
        {"collisions collisions", 1, false,
         [](int, const Request &r, int) { return Heard{garbled(answerTo(r))}; }},
        {"collisions", -1, false,
         [](int, const Request &r, int) {
             return Heard{r.kind == RequestKind::AddressRead ? garbled(answerTo(r, 3))
                                                             : answerTo(r)};
         }},
        {"silence", -1, false, [](int, const Request &, int) { return Heard{}; }},
        // The module at address 7: the station-250 read names it.
        {"silence", 7, true,
         [](int, const Request &r, int) {
             return Heard{r.kind == RequestKind::AddressRead ? answerTo(r, 7) : QByteArray()};
         }},
        {"one_rate", 19200, true,
         [](int baud, const Request &r, int) {
             return Heard{baud == 19200 ? answerTo(r) : QByteArray("\x5A\xA5\x3C", 3)};
         }},
        // At the port's own rate: a note beside "clean".
        {"clean one_rate", -1, true,
         [](int baud, const Request &r, int) {
             return Heard{baud == 9600 ? answerTo(r) : QByteArray()};
         }},
    };
    for (const Case &c : cases) {
        const QVector<Finding> found = classifyLine(1, 9600, 100, battery(c.allRates, c.hear));
        QStringList keys;
        for (const Finding &f : found)
            keys << findingKey(f.kind);
        EXPECT_EQ(keys.join(' ').toStdString(), c.findings);
        ASSERT_FALSE(found.isEmpty());
        EXPECT_EQ(found[0].value, c.value) << c.findings;
    }
}
