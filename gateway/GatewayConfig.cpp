#include "gateway/GatewayConfig.h"

#include "line/Monitor.h"
#include "operations/NumberText.h"
#include "operations/Scan.h"
#include "protocol/PortNaming.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include <initializer_list>

namespace kc {

namespace {

constexpr int minCycleMs = 50;
constexpr int maxCycleMs = 3600000;

QString keyPath(const QString &path, const QString &key)
{
    return path.isEmpty() ? key : path + QLatin1Char('.') + key;
}

QString numberText(double value)
{
    return QString::number(value, 'g', 12);
}

// Collects every fault instead of stopping at the first, so one run of
// --check shows the engineer all there is to mend.
class Reader
{
public:
    QStringList faults;

    void fault(const QString &path, const QString &text)
    {
        faults << path + QStringLiteral(": ") + text;
    }

    void onlyKnownKeys(const QJsonObject &object, const QString &path,
                       std::initializer_list<const char *> known)
    {
        for (auto it = object.begin(); it != object.end(); ++it) {
            bool found = false;
            for (const char *k : known)
                found = found || it.key() == QLatin1String(k);
            if (found)
                continue;
            if (it.key() == QLatin1String("password"))
                fault(keyPath(path, it.key()), QStringLiteral("not allowed here; put the password "
                                                              "in a file named by password_file"));
            else
                fault(keyPath(path, it.key()), QStringLiteral("unknown key"));
        }
    }

    std::optional<int> integer(const QJsonValue &value, const QString &path, int low, int high)
    {
        if (!value.isDouble() || wholePart(value.toDouble()) != value.toDouble()) {
            fault(path, QStringLiteral("must be a whole number"));
            return std::nullopt;
        }
        const auto number = intInRange(value.toDouble(), low, high);
        if (!number)
            fault(path, QStringLiteral("%1 is not within %2..%3")
                            .arg(numberText(value.toDouble()))
                            .arg(low)
                            .arg(high));
        return number;
    }

    std::optional<QString> text(const QJsonValue &value, const QString &path)
    {
        if (!value.isString() || value.toString().trimmed().isEmpty()) {
            fault(path, QStringLiteral("must be a non-empty text"));
            return std::nullopt;
        }
        return value.toString().trimmed();
    }

    std::optional<bool> flag(const QJsonValue &value, const QString &path)
    {
        if (!value.isBool()) {
            fault(path, QStringLiteral("must be true or false"));
            return std::nullopt;
        }
        return value.toBool();
    }

    std::optional<QJsonObject> object(const QJsonValue &value, const QString &path)
    {
        if (!value.isObject()) {
            fault(path, QStringLiteral("must be an object"));
            return std::nullopt;
        }
        return value.toObject();
    }

    template <typename T, typename Read>
    void optional(const QJsonObject &object, const QString &path, const char *key, T &target,
                  Read read)
    {
        if (!object.contains(QLatin1String(key)))
            return;
        if (const auto value =
                read(object.value(QLatin1String(key)), keyPath(path, QLatin1String(key))))
            target = *value;
    }

    // "1-40", "1,3,5-8" or [1, 2, 3]; the station-list rule of the monitor.
    std::optional<QVector<int>> stations(const QJsonValue &value, const QString &path)
    {
        QString list;
        if (value.isString()) {
            list = value.toString();
        } else if (value.isArray() && !value.toArray().isEmpty()) {
            QStringList items;
            for (const QJsonValue &item : value.toArray()) {
                const double d = item.toDouble(-1);
                if (!item.isDouble() || wholePart(d) != d || d < 0 || d > 999) {
                    fault(path, QStringLiteral("every station must be a whole number 1..250"));
                    return std::nullopt;
                }
                items << QString::number(int(d));
            }
            list = items.join(QLatin1Char(','));
        } else {
            fault(path,
                  QStringLiteral("must be a list such as \"1-40\", \"1,3,5-8\" or [1, 2, 3]"));
            return std::nullopt;
        }
        const auto stations = parseStations(list);
        if (!stations)
            fault(path, QStringLiteral("\"%1\" is not a list of stations 1..250, each once")
                            .arg(list.left(80)));
        return stations;
    }

    std::optional<LineConfig> line(const QJsonValue &value, const QString &path)
    {
        const auto o = object(value, path);
        if (!o)
            return std::nullopt;
        onlyKnownKeys(*o, path, {"port", "baud", "stations", "cycle_ms", "name", "echo"});
        const int before = faults.size();
        LineConfig line;
        const QString portAt = keyPath(path, QStringLiteral("port"));
        if (const auto port = text(o->value(QLatin1String("port")), portAt)) {
            line.port = *port;
            // A network line in its one spelling, so the same line listed twice is seen.
            if (looksLikeNetworkAddress(*port)) {
                if (const auto address = networkAddress(*port))
                    line.port = address->url();
                else
                    fault(portAt, QStringLiteral("\"%1\" is not tcp://HOST:PORT or "
                                                 "modbus-tcp://HOST:PORT")
                                      .arg(port->left(80)));
            }
        }
        if (o->contains(QLatin1String("baud"))) {
            const QString at = keyPath(path, QStringLiteral("baud"));
            if (const auto baud = integer(o->value(QLatin1String("baud")), at, 0, 1000000)) {
                if (moduleBauds().contains(*baud)) {
                    line.baud = *baud;
                } else {
                    QStringList known;
                    for (const int b : moduleBauds())
                        known << QString::number(b);
                    fault(at, QStringLiteral("%1 is not one of %2")
                                  .arg(*baud)
                                  .arg(known.join(QStringLiteral(", "))));
                }
            }
        }
        const QString stationsAt = keyPath(path, QStringLiteral("stations"));
        if (!o->contains(QLatin1String("stations")))
            fault(stationsAt, QStringLiteral("missing"));
        else if (const auto list = stations(o->value(QLatin1String("stations")), stationsAt))
            line.stations = *list;
        if (o->contains(QLatin1String("cycle_ms"))) {
            const QString at = keyPath(path, QStringLiteral("cycle_ms"));
            if (const auto ms = integer(o->value(QLatin1String("cycle_ms")), at, 0, maxCycleMs)) {
                if (*ms != 0 && *ms < minCycleMs)
                    fault(at, QStringLiteral("%1 is neither 0 (back to back) nor within %2..%3")
                                  .arg(*ms)
                                  .arg(minCycleMs)
                                  .arg(maxCycleMs));
                else
                    line.cycleMs = *ms;
            }
        }
        if (o->contains(QLatin1String("name"))) {
            const QString at = keyPath(path, QStringLiteral("name"));
            static const QRegularExpression topicSafe(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
            const QJsonValue name = o->value(QLatin1String("name"));
            if (name.isString() && topicSafe.match(name.toString()).hasMatch())
                line.name = name.toString();
            else
                fault(at, QStringLiteral("must be 1 to 64 of A-Z, a-z, 0-9, '_' and '-'"));
        } else if (!line.port.isEmpty()) {
            line.name = lineNameFromPort(line.port);
            if (line.name.isEmpty())
                fault(path, QStringLiteral("no name can be made from port; give one in name"));
        }
        if (o->contains(QLatin1String("echo"))) {
            const auto echo = echoModeFromKey(o->value(QLatin1String("echo")).toString());
            if (echo)
                line.echo = *echo;
            else
                fault(keyPath(path, QStringLiteral("echo")),
                      QStringLiteral("must be \"auto\", \"on\" or \"off\""));
        }
        if (faults.size() != before)
            return std::nullopt;
        return line;
    }

    void lines(const QJsonValue &given, GatewayConfig &config)
    {
        QJsonValue value = given;
        QString path = QStringLiteral("lines");
        // The monitor window's saved list, pasted in as it stands.
        if (value.isObject()) {
            onlyKnownKeys(value.toObject(), path, {"ports"});
            value = value.toObject().value(QLatin1String("ports"));
            path = QStringLiteral("lines.ports");
        }
        if (!value.isArray() || value.toArray().isEmpty()) {
            fault(path, QStringLiteral("must be a non-empty array of lines"));
            return;
        }
        const QJsonArray array = value.toArray();
        QSet<QString> ports, names;
        for (int i = 0; i < array.size(); ++i) {
            const QString at = QStringLiteral("%1[%2]").arg(path).arg(i);
            const auto line = this->line(array[i], at);
            if (!line)
                continue;
            if (ports.contains(line->port))
                fault(at + QStringLiteral(".port"),
                      QStringLiteral("%1 is listed twice; give each line once").arg(line->port));
            else if (names.contains(line->name))
                fault(at + QStringLiteral(".name"),
                      QStringLiteral("%1 is the name of another line too").arg(line->name));
            ports << line->port;
            names << line->name;
            config.lines << *line;
        }
    }

    void broker(const QJsonValue &value, BrokerConfig &broker, const QString &hostName)
    {
        const QString path = QStringLiteral("broker");
        const auto o = object(value, path);
        if (!o)
            return;
        onlyKnownKeys(*o, path,
                      {"url", "client_id", "username", "password_file", "ca_file", "keepalive_s",
                       "buffer_messages"});
        const QString urlAt = keyPath(path, QStringLiteral("url"));
        if (const auto url = text(o->value(QLatin1String("url")), urlAt))
            brokerUrl(*url, urlAt, broker);
        broker.clientId = QStringLiteral("kc4420-gateway-") + hostName;
        optional(*o, path, "client_id", broker.clientId,
                 [this](const QJsonValue &v, const QString &at) { return text(v, at); });
        optional(*o, path, "username", broker.username,
                 [this](const QJsonValue &v, const QString &at) { return text(v, at); });
        optional(*o, path, "password_file", broker.passwordFile,
                 [this](const QJsonValue &v, const QString &at) { return readableFile(v, at); });
        optional(*o, path, "ca_file", broker.caFile,
                 [this](const QJsonValue &v, const QString &at) { return readableFile(v, at); });
        optional(
            *o, path, "keepalive_s", broker.keepaliveS,
            [this](const QJsonValue &v, const QString &at) { return integer(v, at, 5, 65535); });
        optional(
            *o, path, "buffer_messages", broker.bufferMessages,
            [this](const QJsonValue &v, const QString &at) { return integer(v, at, 1, 10000000); });
        if (o->contains(QLatin1String("password_file")) && !o->contains(QLatin1String("username")))
            fault(keyPath(path, QStringLiteral("password_file")),
                  QStringLiteral("a password needs a user name in broker.username"));
        if (o->contains(QLatin1String("ca_file")) && !broker.tls && !broker.host.isEmpty())
            fault(keyPath(path, QStringLiteral("ca_file")),
                  QStringLiteral("only used with an mqtts:// url"));
    }

    std::optional<QString> readableFile(const QJsonValue &value, const QString &path)
    {
        const auto file = text(value, path);
        if (file && !QFileInfo(*file).isReadable())
            fault(path, QStringLiteral("cannot read %1").arg(*file));
        return file;
    }

    void brokerUrl(const QString &text, const QString &path, BrokerConfig &broker)
    {
        const QUrl url(text, QUrl::StrictMode);
        // Never echo a url that carries a password.
        if (!url.userInfo().isEmpty()) {
            fault(path, QStringLiteral("holds a user name or password; give them in "
                                       "broker.username and broker.password_file"));
            return;
        }
        const QString scheme = url.scheme();
        if (!url.isValid() ||
            (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")) ||
            url.host().isEmpty() || !(url.path().isEmpty() || url.path() == QLatin1String("/")) ||
            url.hasQuery() || url.hasFragment()) {
            fault(path, QStringLiteral("\"%1\" is not mqtt://host[:port] or mqtts://host[:port]")
                            .arg(text));
            return;
        }
        broker.tls = scheme == QLatin1String("mqtts");
        broker.host = url.host();
        broker.port = url.port(broker.tls ? 8883 : 1883);
        const QString host = broker.host.contains(QLatin1Char(':'))
                                 ? QLatin1Char('[') + broker.host + QLatin1Char(']')
                                 : broker.host;
        broker.url = QStringLiteral("%1://%2:%3").arg(scheme, host).arg(broker.port);
    }

    void topicPrefix(const QJsonValue &value, QString &prefix)
    {
        const QString path = QStringLiteral("topic_prefix");
        const auto text = this->text(value, path);
        if (!text)
            return;
        static const QRegularExpression bad(QStringLiteral("[+#\\x00]|^/|/$|//"));
        if (bad.match(*text).hasMatch())
            fault(path, QStringLiteral("\"%1\" must not hold '+' or '#', nor begin or end with "
                                       "'/', nor have an empty level")
                            .arg(*text));
        else
            prefix = *text;
    }

    void serve(const QJsonValue &value, GatewayConfig &config)
    {
        const QString path = QStringLiteral("serve");
        const auto o = object(value, path);
        if (!o)
            return;
        ServeConfig &serve = config.serve;
        serve.enabled = true;
        onlyKnownKeys(*o, path,
                      {"port", "bind", "writes", "max_clients", "idle_timeout_s", "units"});
        optional(*o, path, "port", serve.port, [this](const QJsonValue &v, const QString &at) {
            return integer(v, at, 1, 65535);
        });
        optional(*o, path, "bind", serve.bind, [this](const QJsonValue &v, const QString &at) {
            const auto address = text(v, at);
            if (address && QHostAddress(*address).isNull()) {
                fault(at, QStringLiteral("\"%1\" is not an IP address").arg(address->left(80)));
                return std::optional<QString>();
            }
            return address;
        });
        optional(*o, path, "writes", serve.writes,
                 [this](const QJsonValue &v, const QString &at) { return flag(v, at); });
        optional(
            *o, path, "max_clients", serve.maxClients,
            [this](const QJsonValue &v, const QString &at) { return integer(v, at, 1, 1000); });
        optional(
            *o, path, "idle_timeout_s", serve.idleTimeoutS,
            [this](const QJsonValue &v, const QString &at) { return integer(v, at, 1, 86400); });
        if (o->contains(QLatin1String("units")))
            units(o->value(QLatin1String("units")), config);
        else
            defaultUnits(config);
    }

    // {"11": "hall1/1", ...}: a unit id 1..247 to a line's name and a station.
    void units(const QJsonValue &value, GatewayConfig &config)
    {
        const QString path = QStringLiteral("serve.units");
        const auto o = object(value, path);
        if (!o)
            return;
        for (auto it = o->begin(); it != o->end(); ++it) {
            const QString at = keyPath(path, it.key());
            const auto unit = intInRange(numericValue(it.key()).value_or(-1), 1, 247);
            if (!unit || QString::number(*unit) != it.key()) {
                fault(at, QStringLiteral("a unit id must be a whole number 1..247"));
                continue;
            }
            const QString target = it.value().toString();
            const QString name = target.section(QLatin1Char('/'), 0, 0);
            const auto station =
                intInRange(numericValue(target.section(QLatin1Char('/'), 1)).value_or(-1), 1, 247);
            int line = -1;
            for (int i = 0; i < config.lines.size(); ++i) {
                if (config.lines[i].name == name)
                    line = i;
            }
            if (!it.value().isString() || line < 0 || !station)
                fault(at, QStringLiteral("must be \"LINE/STATION\": a line's name and a station "
                                         "1..247"));
            else
                config.serve.units.insert(*unit, {line, *station});
        }
    }

    // Each polled station under its own number, where one line alone has it.
    void defaultUnits(GatewayConfig &config)
    {
        for (int i = 0; i < config.lines.size(); ++i) {
            for (const int station : config.lines[i].stations) {
                const auto other = config.serve.units.constFind(station);
                if (other == config.serve.units.cend()) {
                    config.serve.units.insert(station, {i, station});
                    continue;
                }
                fault(QStringLiteral("serve.units"),
                      QStringLiteral("station %1 is on lines %2 and %3; map each unit id to a "
                                     "line's station")
                          .arg(station)
                          .arg(config.lines[other->line].name, config.lines[i].name));
            }
        }
    }

    void dataLog(const QJsonValue &value, GatewayConfig &config)
    {
        const QString path = QStringLiteral("data_log");
        const auto o = object(value, path);
        if (!o)
            return;
        onlyKnownKeys(*o, path, {"enabled", "folder"});
        optional(*o, path, "enabled", config.dataLogEnabled,
                 [this](const QJsonValue &v, const QString &at) { return flag(v, at); });
        optional(*o, path, "folder", config.dataLogFolder,
                 [this](const QJsonValue &v, const QString &at) { return text(v, at); });
    }
};

} // namespace

int GatewayConfig::moduleCount() const
{
    int count = 0;
    for (const LineConfig &line : lines)
        count += int(line.stations.size());
    return count;
}

QString lineNameFromPort(const QString &port)
{
    QString name = port.trimmed().section(QLatin1Char('/'), -1, -1, QString::SectionSkipEmpty);
    name = name.toLower();
    static const QRegularExpression other(QStringLiteral("[^a-z0-9_-]"));
    return name.replace(other, QStringLiteral("_"));
}

ConfigReading parseGatewayConfig(const QByteArray &json, const QString &hostName)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) {
        const QByteArray before = json.left(error.offset);
        const int line = int(before.count('\n')) + 1;
        const int column = int(error.offset - (before.lastIndexOf('\n') + 1)) + 1;
        return {std::nullopt,
                {QStringLiteral("line %1, column %2: not JSON: %3")
                     .arg(line)
                     .arg(column)
                     .arg(error.errorString())}};
    }
    if (!doc.isObject())
        return {std::nullopt, {QStringLiteral("the file must hold one JSON object")}};
    const QJsonObject root = doc.object();

    Reader r;
    GatewayConfig config;
    r.onlyKnownKeys(root, {},
                    {"lines", "broker", "topic_prefix", "qos", "data_log", "discovery",
                     "writes_allowed", "serve"});
    if (root.contains(QLatin1String("lines")))
        r.lines(root.value(QLatin1String("lines")), config);
    else
        r.fault(QStringLiteral("lines"), QStringLiteral("missing"));
    if (root.contains(QLatin1String("broker")))
        r.broker(root.value(QLatin1String("broker")), config.broker, hostName);
    else
        r.fault(QStringLiteral("broker"), QStringLiteral("missing"));
    config.topicPrefix = QStringLiteral("kc4420/") + hostName;
    if (root.contains(QLatin1String("topic_prefix")))
        r.topicPrefix(root.value(QLatin1String("topic_prefix")), config.topicPrefix);
    r.optional(root, {}, "qos", config.qos,
               [&r](const QJsonValue &v, const QString &at) { return r.integer(v, at, 0, 1); });
    if (root.contains(QLatin1String("data_log")))
        r.dataLog(root.value(QLatin1String("data_log")), config);
    r.optional(root, {}, "discovery", config.discovery,
               [&r](const QJsonValue &v, const QString &at) { return r.flag(v, at); });
    r.optional(root, {}, "writes_allowed", config.writesAllowed,
               [&r](const QJsonValue &v, const QString &at) { return r.flag(v, at); });
    // After the lines: its unit ids name them.
    if (root.contains(QLatin1String("serve")))
        r.serve(root.value(QLatin1String("serve")), config);
    if (!r.faults.isEmpty())
        return {std::nullopt, r.faults};
    return {config, {}};
}

ConfigReading loadGatewayConfig(const QString &path, const QString &hostName)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {std::nullopt,
                {QStringLiteral("%1: cannot read: %2").arg(path, file.errorString())}};
    return parseGatewayConfig(file.readAll(), hostName);
}

QString configSummary(const GatewayConfig &config)
{
    return QStringLiteral("%1 line(s), %2 module(s), broker %3")
        .arg(config.lines.size())
        .arg(config.moduleCount())
        .arg(config.broker.url);
}

std::optional<QByteArray> readPasswordFile(const QString &path, QString *fault)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *fault = QStringLiteral("broker.password_file: cannot read %1: %2")
                     .arg(path, file.errorString());
        return std::nullopt;
    }
    // The first line, without its line end: editors add one.
    QByteArray password = file.readLine();
    while (password.endsWith('\n') || password.endsWith('\r'))
        password.chop(1);
    return password;
}

} // namespace kc
