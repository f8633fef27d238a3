#include "gateway/Topics.h"

#include "operations/RegisterMap.h"
#include "operations/TimeText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cmath>

namespace kc {

namespace {

// A reading as a JSON number with the value the window shows; going through
// the text keeps 25.1 from turning into 25.099999999999998.
QJsonValue reading(int row, int value)
{
    return valueText(row, value).toDouble();
}

// Home Assistant takes only these in an object id.
QString idPart(const QString &text)
{
    QString id = text;
    static const QRegularExpression other(QStringLiteral("[^A-Za-z0-9_-]"));
    return id.replace(other, QStringLiteral("_"));
}

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

QString alarmWord(int code)
{
    switch (code) {
    case 0:
        return QStringLiteral("normal");
    case 1:
        return QStringLiteral("temperature");
    case 2:
        return QStringLiteral("humidity");
    default:
        return {};
    }
}

QString lineStateKey(LineState state)
{
    switch (state) {
    case LineState::Polling:
        break;
    case LineState::NotOpened:
        return QStringLiteral("port_not_opened");
    case LineState::Lost:
        return QStringLiteral("line_lost");
    case LineState::Held:
        return QStringLiteral("port_held");
    }
    return {};
}

WriteAnswer writeAnswer(const RowWrite &write)
{
    WriteAnswer a;
    a.value = write.diff.writeText;
    a.readBack = write.readBack;
    a.message = rowResultText(write);
    if (!write.refusal.isEmpty()) {
        a.result = QStringLiteral("value_refused");
        return a;
    }
    a.outcome = outcomeKey(write.outcome.kind);
    a.result = !write.written                         ? QStringLiteral("write_failed")
               : write.readBack.isEmpty()             ? QStringLiteral("read_back_failed")
               : write.result == RowResult::Confirmed ? QStringLiteral("confirmed")
                                                      : QStringLiteral("read_back_differs");
    return a;
}

QString statusTopic(const QString &prefix)
{
    return prefix + QStringLiteral("/status");
}

QString gatewayTopic(const QString &prefix)
{
    return prefix + QStringLiteral("/gateway");
}

QString moduleTopic(const QString &prefix, const QString &line, int station)
{
    return QStringLiteral("%1/%2/%3").arg(prefix, line).arg(station);
}

QString stateTopic(const QString &prefix, const QString &line, int station)
{
    return moduleTopic(prefix, line, station) + QStringLiteral("/state");
}

QString availabilityTopic(const QString &prefix, const QString &line, int station)
{
    return moduleTopic(prefix, line, station) + QStringLiteral("/availability");
}

QString setTopicFilter(const QString &prefix)
{
    return prefix + QStringLiteral("/+/+/set/+");
}

QString setResultTopic(const QString &setTopic)
{
    return setTopic + QStringLiteral("/result");
}

std::optional<SetRequest> parseSetTopic(const QString &prefix, const QString &topic)
{
    if (!topic.startsWith(prefix + QLatin1Char('/')))
        return std::nullopt;
    const QStringList levels = topic.mid(prefix.size() + 1).split(QLatin1Char('/'));
    static const QRegularExpression number(QStringLiteral("^[1-9][0-9]{0,2}$"));
    if (levels.size() != 4 || levels[0].isEmpty() || levels[2] != QLatin1String("set") ||
        !number.match(levels[1]).hasMatch() || !number.match(levels[3]).hasMatch())
        return std::nullopt;
    return SetRequest{levels[0], levels[1].toInt(), levels[3].toInt()};
}

QByteArray statePayload(const PollReport &report)
{
    QJsonObject state{{QStringLiteral("time"), isoTime(report.time)},
                      {QStringLiteral("outcome"), report.outcome}};
    if (report.temperature)
        state.insert(QStringLiteral("temperature_C"), reading(temperatureRow, *report.temperature));
    if (report.humidity)
        state.insert(QStringLiteral("humidity_RH"), reading(humidityRow, *report.humidity));
    if (report.alarmCode) {
        state.insert(QStringLiteral("alarm_code"), *report.alarmCode);
        const QString word = alarmWord(*report.alarmCode);
        if (!word.isEmpty())
            state.insert(QStringLiteral("alarm"), word);
    }
    if (report.responseMs >= 0)
        state.insert(QStringLiteral("response_ms"), std::round(report.responseMs * 10) / 10);
    if (!report.device.isEmpty())
        state.insert(QStringLiteral("device"), report.device);
    return compact(state);
}

QByteArray writeResultPayload(const WriteAnswer &answer)
{
    QJsonObject result{{QStringLiteral("time"), isoTime(answer.time)},
                       {QStringLiteral("value"), answer.value},
                       {QStringLiteral("ok"), answer.result == QLatin1String("confirmed")},
                       {QStringLiteral("result"), answer.result}};
    if (!answer.outcome.isEmpty())
        result.insert(QStringLiteral("outcome"), answer.outcome);
    if (!answer.readBack.isEmpty())
        result.insert(QStringLiteral("read_back"), answer.readBack);
    if (!answer.message.isEmpty())
        result.insert(QStringLiteral("message"), answer.message);
    return compact(result);
}

QByteArray gatewayPayload(bool connected, qint64 buffered, qint64 dropped)
{
    return compact({{QStringLiteral("connected"), connected},
                    {QStringLiteral("buffered"), buffered},
                    {QStringLiteral("dropped"), dropped}});
}

QVector<TopicMessage> discoveryMessages(const QString &prefix, const QString &line, int station,
                                        const QString &device)
{
    const QString moduleId = QStringLiteral("%1_%2_%3").arg(idPart(prefix), line).arg(station);
    const QJsonObject deviceBlock{
        {QStringLiteral("identifiers"), QJsonArray{moduleId}},
        {QStringLiteral("name"), QStringLiteral("%1 station %2").arg(line).arg(station)},
        {QStringLiteral("model"), device.isEmpty() ? QStringLiteral("KC4420") : device},
    };
    const QJsonArray availability{
        QJsonObject{{QStringLiteral("topic"), availabilityTopic(prefix, line, station)}},
        QJsonObject{{QStringLiteral("topic"), statusTopic(prefix)}},
    };
    struct Quantity
    {
        const char *key, *deviceClass, *unit, *field, *name;
    };
    static const Quantity quantities[] = {
        {"temperature", "temperature", "\u00b0C", "temperature_C", "Temperature"},
        {"humidity", "humidity", "%", "humidity_RH", "Humidity"},
    };
    QVector<TopicMessage> messages;
    for (const Quantity &q : quantities) {
        const QString uniqueId = moduleId + QLatin1Char('_') + QLatin1String(q.key);
        // A failed poll carries no value: "None" leaves the sensor unknown
        // rather than showing the last reading as if it were fresh.
        const QString value =
            QStringLiteral("{{ value_json.%1 | default('None') }}").arg(QLatin1String(q.field));
        const QJsonObject config{
            {QStringLiteral("name"), QLatin1String(q.name)},
            {QStringLiteral("unique_id"), uniqueId},
            {QStringLiteral("object_id"), uniqueId},
            {QStringLiteral("device_class"), QLatin1String(q.deviceClass)},
            {QStringLiteral("state_class"), QStringLiteral("measurement")},
            {QStringLiteral("unit_of_measurement"), QString::fromUtf8(q.unit)},
            {QStringLiteral("state_topic"), stateTopic(prefix, line, station)},
            {QStringLiteral("value_template"), value},
            {QStringLiteral("availability"), availability},
            {QStringLiteral("availability_mode"), QStringLiteral("all")},
            {QStringLiteral("device"), deviceBlock},
        };
        messages.append({QStringLiteral("homeassistant/sensor/%1/config").arg(uniqueId),
                         compact(config), true});
    }
    return messages;
}

} // namespace kc
