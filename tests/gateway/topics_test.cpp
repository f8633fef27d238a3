#include "gateway/Topics.h"
#include "support/QtPrint.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace kc;

namespace {

const QString prefix = QStringLiteral("kc4420/cab7");

QDateTime at(int offsetSeconds)
{
    return QDateTime(QDate(2026, 10, 25), QTime(2, 30), Qt::OffsetFromUTC, offsetSeconds);
}

PollReport answered()
{
    return {at(7200), "COM1", "com1", 7, 2350, 4825, 0, "answered", 12.43, "KC4420P V2.1"};
}

QJsonObject object(const QByteArray &payload)
{
    return QJsonDocument::fromJson(payload).object();
}

} // namespace

// A state document carries what the poll gave and nothing else, its time with
// the offset it was taken at; each sensor's template reads one of its fields.
TEST(GatewayTopics, StateDocumentsAndTheFieldsSensorsRead)
{
    const PollReport silent{at(-18000), "COM1", "com1", 7, {}, {}, {}, "no_reply", -1, {}};
    const struct
    {
        QByteArray payload;
        QJsonObject expected;
    } rows[] = {
        {statePayload(answered()),
         {{"time", "2026-10-25T02:30:00.000+02:00"},
          {"temperature_C", 23.5},
          {"humidity_RH", 48.25},
          {"alarm", "normal"},
          {"alarm_code", 0},
          {"outcome", "answered"},
          {"response_ms", 12.4},
          {"device", "KC4420P V2.1"}}},
        {statePayload(silent),
         {{"time", "2026-10-25T02:30:00.000-05:00"}, {"outcome", "no_reply"}}},
    };
    for (const auto &row : rows)
        EXPECT_EQ(object(row.payload), row.expected) << row.payload.constData();

    const QJsonObject state = object(statePayload(answered()));
    const QRegularExpression field(QStringLiteral("value_json\\.(\\w+)"));
    for (const TopicMessage &m : discoveryMessages(prefix, QStringLiteral("com1"), 7, {})) {
        const QString read = object(m.payload).value("value_template").toString();
        EXPECT_TRUE(state.contains(field.match(read).captured(1))) << read.toStdString();
        EXPECT_TRUE(m.retain);
    }
}

TEST(GatewayTopics, WriteRequestsAreTakenApartOnlyUnderThePrefix)
{
    const std::pair<const char *, const char *> rows[] = {
        {"kc4420/cab7/com1/7/set/5", "com1 7 5"},
        {"kc4420/cab7/hall-2/250/set/14", "hall-2 250 14"},
        {"kc4420/cab7/com1/7/set/5/result", ""},
        {"kc4420/cab7/com1/07/set/5", ""},
        {"kc4420/cab7/com1/7/state", ""},
        {"kc4420/cab8/com1/7/set/5", ""},
        {"kc4420/cab7x/com1/7/set/5", ""},
    };
    for (const auto &[topic, request] : rows) {
        const auto p = parseSetTopic(prefix, QString::fromLatin1(topic));
        EXPECT_EQ(p ? QStringLiteral("%1 %2 %3").arg(p->line).arg(p->station).arg(p->row) : "",
                  request)
            << topic;
    }
}
