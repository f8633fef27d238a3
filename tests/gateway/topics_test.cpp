#include "gateway/GatewayConfig.h"
#include "gateway/Topics.h"
#include "support/QtPrint.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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

} // namespace

// Every document parses as JSON, goes to its topic and carries the fields a
// subscriber reads; exact ones carry nothing else.
TEST(GatewayTopics, DocumentsParseAndPointAtTheirTopics)
{
    PollReport fold = answered();
    fold.time = at(3600); // the same wall-clock time once clocks went back
    PollReport cold = answered();
    cold.temperature = -535;
    cold.alarmCode = 2;
    cold.responseMs = -1;
    cold.device.clear();
    const PollReport silent{at(-18000), "COM1", "com1", 7, {}, {}, {}, "no_reply", -1, {}};
    const auto discovery = discoveryMessages(prefix, QStringLiteral("com1"), 7, {});
    ASSERT_EQ(discovery.size(), 2);
    const QJsonArray availability{
        QJsonObject{{"topic", "kc4420/cab7/com1/7/availability"}},
        QJsonObject{{"topic", "kc4420/cab7/status"}},
    };
    const QJsonObject device{{"identifiers", QJsonArray{"kc4420_cab7_com1_7"}},
                             {"name", "com1 station 7"},
                             {"model", "KC4420"}};

    struct Row
    {
        const char *name;
        QString topic;
        QByteArray payload;
        QString expectedTopic;
        QJsonObject expected;
        bool exact;
    };
    const Row rows[] = {
        {"answered",
         stateTopic(prefix, "com1", 7),
         statePayload(answered()),
         "kc4420/cab7/com1/7/state",
         {{"time", "2026-10-25T02:30:00.000+02:00"},
          {"temperature_C", 23.5},
          {"humidity_RH", 48.25},
          {"alarm", "normal"},
          {"alarm_code", 0},
          {"outcome", "answered"},
          {"response_ms", 12.4},
          {"device", "KC4420P V2.1"}},
         true},
        {"hour repeated",
         {},
         statePayload(fold),
         {},
         {{"time", "2026-10-25T02:30:00.000+01:00"}},
         false},
        {"below zero, humidity alarm",
         {},
         statePayload(cold),
         {},
         {{"time", "2026-10-25T02:30:00.000+02:00"},
          {"temperature_C", -5.35},
          {"humidity_RH", 48.25},
          {"alarm", "humidity"},
          {"alarm_code", 2},
          {"outcome", "answered"}},
         true},
        {"no reply",
         {},
         statePayload(silent),
         {},
         {{"time", "2026-10-25T02:30:00.000-05:00"}, {"outcome", "no_reply"}},
         true},
        {"gateway",
         gatewayTopic(prefix),
         gatewayPayload(true, 12, 3),
         "kc4420/cab7/gateway",
         {{"connected", true}, {"buffered", 12}, {"dropped", 3}},
         true},
        {"temperature sensor",
         discovery[0].topic,
         discovery[0].payload,
         "homeassistant/sensor/kc4420_cab7_com1_7_temperature/config",
         {{"unique_id", "kc4420_cab7_com1_7_temperature"},
          {"device_class", "temperature"},
          {"unit_of_measurement", QString::fromUtf8("\u00b0C")},
          {"state_topic", "kc4420/cab7/com1/7/state"},
          {"value_template", "{{ value_json.temperature_C | default('None') }}"},
          {"availability", availability},
          {"availability_mode", "all"},
          {"device", device}},
         false},
        {"humidity sensor",
         discovery[1].topic,
         discovery[1].payload,
         "homeassistant/sensor/kc4420_cab7_com1_7_humidity/config",
         {{"unique_id", "kc4420_cab7_com1_7_humidity"},
          {"device_class", "humidity"},
          {"unit_of_measurement", "%"},
          {"state_topic", "kc4420/cab7/com1/7/state"},
          {"value_template", "{{ value_json.humidity_RH | default('None') }}"},
          {"availability", availability},
          {"device", device}},
         false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.topic, row.expectedTopic);
        QJsonParseError error{};
        const QJsonObject document = QJsonDocument::fromJson(row.payload, &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << row.payload.constData();
        for (auto it = row.expected.begin(); it != row.expected.end(); ++it)
            EXPECT_EQ(document.value(it.key()), it.value()) << it.key().toStdString();
        if (row.exact) {
            EXPECT_EQ(document.keys(), row.expected.keys());
        }
    }
    EXPECT_TRUE(discovery[0].retain && discovery[1].retain);
}

TEST(GatewayTopics, WriteRequestsAreTakenApartOnlyUnderThePrefix)
{
    struct Row
    {
        const char *topic;
        std::optional<SetRequest> request;
    };
    const Row rows[] = {
        {"kc4420/cab7/com1/7/set/5", SetRequest{"com1", 7, 5}},
        {"kc4420/cab7/hall-2/250/set/14", SetRequest{"hall-2", 250, 14}},
        {"kc4420/cab7/com1/7/set/5/result", std::nullopt},
        {"kc4420/cab7/com1/07/set/5", std::nullopt},
        {"kc4420/cab7/com1/7/state", std::nullopt},
        {"kc4420/cab8/com1/7/set/5", std::nullopt},
        {"kc4420/cab7x/com1/7/set/5", std::nullopt},
    };
    EXPECT_EQ(setTopicFilter(prefix), QStringLiteral("kc4420/cab7/+/+/set/+"));
    for (const Row &row : rows) {
        const auto parsed = parseSetTopic(prefix, QString::fromLatin1(row.topic));
        ASSERT_EQ(parsed.has_value(), row.request.has_value()) << row.topic;
        if (parsed) {
            EXPECT_EQ(parsed->line, row.request->line) << row.topic;
            EXPECT_EQ(parsed->station, row.request->station) << row.topic;
            EXPECT_EQ(parsed->row, row.request->row) << row.topic;
        }
    }
}
