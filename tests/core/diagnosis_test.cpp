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
    return withCrc(bytes({station, 0x03, 30}) + QByteArray("\x01\x00", 2).repeated(15));
}

QByteArray garbled(QByteArray frame)
{
    frame[4] = char(frame[4] ^ 0x10);
    return frame;
}

// A probe of the battery, and station 1's clean answer to it.
struct Ask
{
    int baud;
    const Request &request;
    int index;
    QByteArray answer;
};

// What the probes bring: the bytes for each, in ms; late: only after the
// deadline; echoed: behind the adapter's echo.
struct Case
{
    const char *findings;
    int value;
    bool allRates;
    std::function<QByteArray(const Ask &)> heard;
    double ms = 5;
    bool late = false;
    bool echoed = false;
};

// The diagnosis's battery: two station-250 reads and eight reads at 9600,
// and with all rates one and two at each other rate.
QVector<Probe> battery(const Case &c)
{
    QVector<Probe> probes;
    for (const int baud : {9600, 2400, 4800, 19200, 38400}) {
        const bool port = baud == 9600;
        if (!port && !c.allRates)
            break;
        for (int i = 0; i < (port ? 10 : 3); ++i) {
            const Request &r = i < (port ? 2 : 1) ? addressRead : read15;
            const QByteArray heard = c.heard({baud, r, i, answerTo(r)});
            Probe p;
            p.baud = baud;
            p.echoed = c.echoed;
            p.heard = (c.echoed ? r.frame() : QByteArray()) + heard;
            if (c.late) {
                p.outcome.request = r;
            } else {
                p.outcome = *judgeReply(r, heard, true);
                p.outcome.responseMs = c.ms;
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
    const auto clean = [](const Ask &a) { return a.answer; };
    const auto nothing = [](const Ask &) { return QByteArray(); };
    const auto isAddressRead = [](const Ask &a) {
        return a.request.kind == RequestKind::AddressRead;
    };
    const Case cases[] = {
        {"clean", -1, false, clean},
        {"echo", -1, false, clean, 5, false, true},
        {"stray_bytes", 2, false, [](const Ask &a) { return "\xFF\xFF" + a.answer; }},
        // Reads 3 and 4 of eight garbled, as by a burst of noise.
        {"checksum_bursts", 2, false,
         [](const Ask &a) { return a.index == 4 || a.index == 5 ? garbled(a.answer) : a.answer; }},
        {"cut_or_late", -1, false, [](const Ask &a) { return a.answer.chopped(2); }},
        {"cut_or_late", -1, false, clean, 80},
        {"cut_or_late", -1, false, clean, 5, true},
        // Two modules at station 1 answer everything, the station-250 read too.
        {"collisions collisions", 1, false, [](const Ask &a) { return garbled(a.answer); }},
        {"collisions", -1, false,
         [&](const Ask &a) {
             return isAddressRead(a) ? garbled(answerTo(a.request, 3)) : a.answer;
         }},
        {"silence", -1, false, nothing},
        // The module at address 7: the station-250 read names it.
        {"silence", 7, true,
         [&](const Ask &a) { return isAddressRead(a) ? answerTo(a.request, 7) : QByteArray(); }},
        {"one_rate", 19200, true,
         [](const Ask &a) { return a.baud == 19200 ? a.answer : QByteArray("\x5A\xA5\x3C", 3); }},
        // At the port's own rate: a note beside "clean".
        {"clean one_rate", -1, true,
         [](const Ask &a) { return a.baud == 9600 ? a.answer : QByteArray(); }},
    };
    for (const Case &c : cases) {
        const QVector<Finding> found = classifyLine(1, 9600, 100, battery(c));
        QStringList keys;
        for (const Finding &f : found)
            keys << findingKey(f.kind);
        EXPECT_EQ(keys.join(' ').toStdString(), c.findings);
        ASSERT_FALSE(found.isEmpty());
        EXPECT_EQ(found[0].value, c.value) << c.findings;
    }
}
