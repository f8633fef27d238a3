#include "operations/TimeText.h"

#include <gtest/gtest.h>

#include <ctime>

using namespace kc;

// Local times as the program takes them from the clock: the offset tells
// apart the two 02:30 of the night the clocks go back.
TEST(IsoTime, LocalTimesCarryTheirOffset)
{
    // The zone, an instant in UTC, and the local time shown.
    const std::tuple<const char *, const char *, const char *> cases[] = {
        {"Europe/Berlin", "2026-10-25T00:30:00.000Z", "2026-10-25T02:30:00.000+02:00"},
        {"Europe/Berlin", "2026-10-25T01:30:00.000Z", "2026-10-25T02:30:00.000+01:00"},
        {"Europe/Berlin", "2026-03-29T01:00:00.000Z", "2026-03-29T03:00:00.000+02:00"},
        {"Asia/Shanghai", "2026-12-06T13:05:09.025Z", "2026-12-06T21:05:09.025+08:00"},
        {"Asia/Kolkata", "2026-12-06T18:30:00.999Z", "2026-12-07T00:00:00.999+05:30"},
        {"America/St_Johns", "2026-12-06T12:00:00.000Z", "2026-12-06T08:30:00.000-03:30"},
        {"UTC", "2026-12-06T12:00:00.000Z", "2026-12-06T12:00:00.000+00:00"},
    };
    // The process's time zone, as the system's setting would give it.
    const bool zoneWasSet = qEnvironmentVariableIsSet("TZ");
    const QByteArray zoneBefore = qgetenv("TZ");
    for (const auto &[zone, utc, expected] : cases) {
        qputenv("TZ", zone);
        tzset();
        const qint64 ms = QDateTime::fromString(utc, Qt::ISODateWithMs).toMSecsSinceEpoch();
        EXPECT_EQ(isoTime(QDateTime::fromMSecsSinceEpoch(ms)), expected) << zone << " " << utc;
    }
    if (zoneWasSet)
        qputenv("TZ", zoneBefore);
    else
        qunsetenv("TZ");
    tzset();
    // A time in UTC itself: an offset, not "Z".
    EXPECT_EQ(isoTime(QDateTime(QDate(2026, 12, 6), QTime(12, 0), Qt::UTC)),
              "2026-12-06T12:00:00.000+00:00");
}
