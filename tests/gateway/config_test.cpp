#include "gateway/GatewayConfig.h"
#include "support/QtPrint.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using kc::parseGatewayConfig;

namespace {

const QString host = QStringLiteral("cab7");

// A sound file but for what a row puts in place of the marked part.
QByteArray withLines(const char *lines, const char *rest = R"("broker": {"url": "mqtt://b"})")
{
    return QByteArray(R"({"lines": )") + lines + ", " + rest + "}";
}

// One sound line, and this in place of the broker's block and what follows.
QByteArray withRest(const char *rest)
{
    return withLines(R"([{"port": "COM1", "stations": "1"}])", rest);
}

} // namespace

TEST(GatewayConfig, EachFaultIsOneLineNamingItsKey)
{
    struct Row
    {
        QByteArray json;
        QStringList faults;
    };
    const Row rows[] = {
        {"{\"lines\": [}", {"line 1, column 13: not JSON: object is missing after a comma"}},
        {"[1]", {"the file must hold one JSON object"}},
        {"{}", {"lines: missing", "broker: missing"}},
        {withLines(R"([{"port": "COM1", "stations": "1-3"}, {"port": "COM2", "stations": "0-3"}])"),
         {"lines[1].stations: \"0-3\" is not a list of stations 1..250, each once"}},
        {withLines(R"([{"port": "COM1", "stations": [1, 2, 2]}])"),
         {"lines[0].stations: \"1,2,2\" is not a list of stations 1..250, each once"}},
        {withLines(R"([{"port": "COM1"}])"), {"lines[0].stations: missing"}},
        {withLines(R"([{"port": "", "stations": [1, 2.5], "baud": 1200, "cycle_ms": 3600001},
                       {"port": "COM2", "stations": "1", "speed": 9600, "cycle_ms": 20,
                        "name": "a/b", "echo": true}])"),
         {"lines[0].port: must be a non-empty text",
          "lines[0].baud: 1200 is not one of 2400, 4800, 9600, 19200, 38400",
          "lines[0].stations: every station must be a whole number 1..250",
          "lines[0].cycle_ms: 3600001 is not within 0..3600000", "lines[1].speed: unknown key",
          "lines[1].cycle_ms: 20 is neither 0 (back to back) nor within 50..3600000",
          "lines[1].name: must be 1 to 64 of A-Z, a-z, 0-9, '_' and '-'",
          "lines[1].echo: must be \"auto\", \"on\" or \"off\""}},
        {withLines(R"([{"port": "COM1", "stations": "1"}, {"port": "COM1", "stations": "2"}])"),
         {"lines[1].port: COM1 is listed twice; give each line once"}},
        {withLines(R"([{"port": "COM1", "stations": "1"}, {"port": "/x/com1", "stations": "2"}])"),
         {"lines[1].name: com1 is the name of another line too"}},
        {withLines(R"([{"port": "tcp://gw:4001", "stations": "1"},
                        {"port": "TCP://GW:4001/", "stations": "2"},
                        {"port": "modbus-tcp://gw", "stations": "3"}])"),
         {"lines[1].port: tcp://gw:4001 is listed twice; give each line once",
          "lines[2].port: \"modbus-tcp://gw\" is not tcp://HOST:PORT or modbus-tcp://HOST:PORT"}},
        {withLines(R"([])"), {"lines: must be a non-empty array of lines"}},
        {withLines(R"({"ports": [{"port": "COM3", "baud": 1200, "stations": [1]}]})"),
         {"lines.ports[0].baud: 1200 is not one of 2400, 4800, 9600, 19200, 38400"}},
        {withLines(R"("COM1")", R"("broker": {"url": "http://b"})"),
         {"lines: must be a non-empty array of lines",
          "broker.url: \"http://b\" is not mqtt://host[:port] or mqtts://host[:port]"}},
        {withRest(R"("broker": {"url": "mqtt://u:hunter2@b"})"),
         {"broker.url: holds a user name or password; give them in broker.username and "
          "broker.password_file"}},
        {withRest(R"("broker": {"url": "mqtt://b", "username": "u", "password": "hunter2"})"),
         {"broker.password: not allowed here; put the password in a file named by "
          "password_file"}},
        {withRest(R"("broker": {"url": "mqtt://b", "password_file": "/nonexistent/pw"})"),
         {"broker.password_file: cannot read /nonexistent/pw",
          "broker.password_file: a password needs a user name in broker.username"}},
        {withRest(R"("broker": {"url": "mqtt://b", "ca_file": "/etc/hostname"})"),
         {"broker.ca_file: only used with an mqtts:// url"}},
        {withRest(R"("broker": {"url": "mqtt://b", "keepalive_s": "30", "buffer_messages": 0})"),
         {"broker.keepalive_s: must be a whole number",
          "broker.buffer_messages: 0 is not within 1..10000000"}},
        {withRest(R"("broker": {"url": "mqtt://b"}, "qos": 2, "discovery": "yes")"),
         {"qos: 2 is not within 0..1", "discovery: must be true or false"}},
        {withRest(R"("broker": {"url": "mqtt://b"}, "topic_prefix": "plant/#")"),
         {"topic_prefix: \"plant/#\" must not hold '+' or '#', nor begin or end with '/', nor "
          "have an empty level"}},
        {withRest(R"("broker": {"url": "mqtt://b"}, "data_log": {"on": true}, "colour": 1)"),
         {"colour: unknown key", "data_log.on: unknown key"}},
        {withLines(R"([{"port": "COM1", "stations": "1-2"}, {"port": "COM2", "stations": "2"}])",
                   R"("broker": {"url": "mqtt://b"}, "serve": {})"),
         {"serve.units: station 2 is on lines com1 and com2; map each unit id to a line's "
          "station"}},
        {withRest(R"("broker": {"url": "mqtt://b"}, "serve": {"bind": "localhost",
                      "max_clients": 0, "units": {"0": "com1/1", "7": "hall/1", "8": "com1"}})"),
         {"serve.bind: \"localhost\" is not an IP address",
          "serve.max_clients: 0 is not within 1..1000",
          "serve.units.0: a unit id must be a whole number 1..247",
          "serve.units.7: must be \"LINE/STATION\": a line's name and a station 1..247",
          "serve.units.8: must be \"LINE/STATION\": a line's name and a station 1..247"}},
    };
    for (const Row &row : rows) {
        const kc::ConfigReading reading = parseGatewayConfig(row.json, host);
        EXPECT_FALSE(reading.config) << row.json.constData();
        EXPECT_EQ(reading.faults, row.faults) << row.json.constData();
        EXPECT_FALSE(reading.faults.join(QString()).contains(QLatin1String("hunter2")));
    }
}

// Names made from ports, the counts, the safe defaults, and the monitor's saved list.
TEST(GatewayConfig, DefaultsNamesAndTheMonitorsSavedList)
{
    const auto plain = parseGatewayConfig(
        withLines(R"([{"port": "/dev/serial/by-id/usb-FTDI_X-if00-port0", "stations": "1-40"},
                      {"port": "COM1", "baud": 19200, "stations": [1, 3], "cycle_ms": 0,
                       "name": "Hall_2", "echo": "on"},
                      {"port": "tcp://10.0.0.5:502", "stations": "1,3,5-8"}])",
                  R"("broker": {"url": "mqtts://broker.plant"})"),
        host);
    ASSERT_TRUE(plain.config) << plain.faults.join(QLatin1Char('\n')).toStdString();
    const kc::GatewayConfig &c = *plain.config;
    ASSERT_EQ(c.lines.size(), 3);
    EXPECT_EQ(c.lines[0].name, QStringLiteral("usb-ftdi_x-if00-port0"));
    EXPECT_EQ(c.lines[0].echo, kc::EchoMode::Auto);
    EXPECT_EQ(c.lines[2].name, QStringLiteral("10_0_0_5_502"));
    EXPECT_TRUE(c.broker.tls);
    EXPECT_EQ(c.broker.clientId, QStringLiteral("kc4420-gateway-cab7"));
    EXPECT_EQ(c.topicPrefix, QStringLiteral("kc4420/cab7"));
    EXPECT_FALSE(c.discovery || c.writesAllowed || c.dataLogEnabled);
    EXPECT_EQ(kc::configSummary(c),
              QStringLiteral("3 line(s), 48 module(s), broker mqtts://broker.plant:8883"));

    const auto saved = parseGatewayConfig(
        withLines(R"({"ports":[{"port":"COM3","baud":19200,"stations":[1,2,3]}]})"), host);
    ASSERT_TRUE(saved.config) << saved.faults.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(saved.config->lines.size(), 1);
    EXPECT_EQ(saved.config->lines[0].name, QStringLiteral("com3"));
    EXPECT_EQ(saved.config->lines[0].baud, 19200);
    EXPECT_EQ(saved.config->lines[0].stations, (QVector<int>{1, 2, 3}));
}

// Without a map each polled station is its own unit id; a map replaces that.
TEST(GatewayConfig, ServedUnitIds)
{
    const auto lines =
        R"([{"port": "COM1", "stations": "1-2"}, {"port": "COM2", "stations": "3"}])";
    const auto plain = parseGatewayConfig(
        withLines(lines, R"("broker": {"url": "mqtt://b"}, "serve": {"port": 1502})"), host);
    ASSERT_TRUE(plain.config) << plain.faults.join(QLatin1Char('\n')).toStdString();
    const kc::ServeConfig &serve = plain.config->serve;
    EXPECT_TRUE(serve.enabled);
    EXPECT_EQ(serve.bind, QStringLiteral("127.0.0.1"));
    EXPECT_FALSE(serve.writes);
    EXPECT_EQ(serve.units, (QMap<int, kc::UnitRoute>{{1, {0, 1}}, {2, {0, 2}}, {3, {1, 3}}}));
    const auto mapped = parseGatewayConfig(
        withLines(lines, R"("broker": {"url": "mqtt://b"}, "serve": {"units": {"101": "com2/9"}})"),
        host);
    ASSERT_TRUE(mapped.config);
    EXPECT_EQ(mapped.config->serve.units, (QMap<int, kc::UnitRoute>{{101, {1, 9}}}));
    EXPECT_FALSE(parseGatewayConfig(withLines(lines), host).config->serve.enabled);
}

TEST(GatewayConfig, PasswordFileGivesItsFirstLine)
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("pw")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("sec ret\r\nsecond line\n");
    file.close();
    QString fault;
    EXPECT_EQ(kc::readPasswordFile(file.fileName(), &fault), QByteArray("sec ret"));
    EXPECT_EQ(kc::readPasswordFile(dir.filePath(QStringLiteral("none")), &fault), std::nullopt);
    EXPECT_TRUE(fault.startsWith(QStringLiteral("broker.password_file: cannot read ")));
}
