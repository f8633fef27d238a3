#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>

#include <optional>

namespace kc {

// One poll of one module, as the gateway publishes it. Whoever polls gives
// the outcome as its key (outcomeKey in operations/Outcomes.h); values are
// absent unless answered.
struct PollReport
{
    QDateTime time;
    QString port;
    QString line; // the line's topic name
    int station = 1;
    std::optional<int> temperature; // hundredths of a degree
    std::optional<int> humidity;    // hundredths of %RH
    std::optional<int> alarmCode;   // register 2: 0 normal, 1 temperature, 2 humidity
    QString outcome;                // answered, refused, bad_checksum, wrong_station, ...
    double responseMs = -1;         // below 0: none
    QString device;                 // the module's device text; empty when not read
};

// A retained or plain message to publish.
struct TopicMessage
{
    QString topic;
    QByteArray payload;
    bool retain = true;
};

// "normal", "temperature", "humidity"; empty for a code the module does not define.
QString alarmWord(int code);

QString statusTopic(const QString &prefix);
QString gatewayTopic(const QString &prefix);
QString moduleTopic(const QString &prefix, const QString &line, int station);
QString stateTopic(const QString &prefix, const QString &line, int station);
QString availabilityTopic(const QString &prefix, const QString &line, int station);
// Every module's write requests, for one subscription.
QString setTopicFilter(const QString &prefix);
QString setResultTopic(const QString &setTopic);

// A write request's topic taken apart; nothing when it is not one under prefix.
struct SetRequest
{
    QString line;
    int station = 0;
    int row = 0;
};
std::optional<SetRequest> parseSetTopic(const QString &prefix, const QString &topic);

QByteArray statePayload(const PollReport &report);
// {"connected":true,"buffered":0,"dropped":0}
QByteArray gatewayPayload(bool connected, qint64 buffered, qint64 dropped);

// Home Assistant's discovery documents for one module: its temperature and
// humidity sensors, grouped as one device, retained.
QVector<TopicMessage> discoveryMessages(const QString &prefix, const QString &line, int station,
                                        const QString &device);

} // namespace kc
