#include "operations/TimeText.h"

#include <gtest/gtest.h>

#include <ctime>

using namespace kc;

namespace {

// The process's time zone for a while, as the system's setting would give it.
class ZoneSet
{
public:
    explicit ZoneSet(const char *zone)
        : m_had(qEnvironmentVariableIsSet("TZ")), m_old(qgetenv("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~ZoneSet()
    {
        if (m_had)
            qputenv("TZ", m_old);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    bool m_had;
    QByteArray m_old;
};

} // namespace

// Local times as the program takes them from the clock: the offset tells
// apart the two 02:30 of the night the clocks go back.
TEST(IsoTime, LocalTimesCarryTheirOffset)
{
    const struct
    {
        const char *zone;
        const char *utc;
        const char *expected;
    } cases[] = {
        {"Europe/Berlin", "2026-10-25T00:30:00.000Z", "2026-10-25T02:30:00.000+02:00"},
        {"Europe/Berlin", "2026-10-25T01:30:00.000Z", "2026-10-25T02:30:00.000+01:00"},
        {"Europe/Berlin", "2026-03-29T01:00:00.000Z", "2026-03-29T03:00:00.000+02:00"},
        {"Asia/Shanghai", "2026-12-06T13:05:09.025Z", "2026-12-06T21:05:09.025+08:00"},
        {"Asia/Kolkata", "2026-12-06T18:30:00.999Z", "2026-12-07T00:00:00.999+05:30"},
        {"America/St_Johns", "2026-12-06T12:00:00.000Z", "2026-12-06T08:30:00.000-03:30"},
        {"UTC", "2026-12-06T12:00:00.000Z", "2026-12-06T12:00:00.000+00:00"},
    };
    for (const auto &c : cases) {
        const ZoneSet zone(c.zone);
        const qint64 ms = QDateTime::fromString(c.utc, Qt::ISODateWithMs).toMSecsSinceEpoch();
        EXPECT_EQ(isoTime(QDateTime::fromMSecsSinceEpoch(ms)), c.expected)
            << c.zone << " " << c.utc;
    }
    // A time in UTC itself: an offset, not "Z".
    EXPECT_EQ(isoTime(QDateTime(QDate(2026, 12, 6), QTime(12, 0), Qt::UTC)),
              "2026-12-06T12:00:00.000+00:00");
}
