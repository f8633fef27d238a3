#pragma once

#include "line/PortPoller.h"
#include "operations/Commissioning.h"

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
    QString outcome;                // answered, refused, ..., or the line's state (lineStateKey)
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

// Why a line's modules are not polled, as the outcome of their state:
// "line_lost", "port_not_opened", "port_held"; empty while it polls.
QString lineStateKey(LineState state);

// What became of a write request from the plant, for its answer.
struct WriteAnswer
{
    QDateTime time;
    QString value;    // as requested
    QString result;   // confirmed, write_failed, value_refused, ... (docs/MQTT.md has them all)
    QString outcome;  // the key of the last request's outcome; empty when nothing was sent
    QString readBack; // as the row's box shows it; empty when not read
    QString message;  // the window's words for it; empty when it has none
};
// The answer of a row write that was planned, and sent unless the rules refused it.
WriteAnswer writeAnswer(const RowWrite &write);

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
QByteArray writeResultPayload(const WriteAnswer &answer);
// {"connected":true,"buffered":0,"dropped":0}
QByteArray gatewayPayload(bool connected, qint64 buffered, qint64 dropped);

// Home Assistant's discovery documents for one module: its temperature and
// humidity sensors, grouped as one device, retained.
QVector<TopicMessage> discoveryMessages(const QString &prefix, const QString &line, int station,
                                        const QString &device);

} // namespace kc
