#pragma once

#include "protocol/AdapterEcho.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

namespace kc {

// One RS-485 line and the modules on it.
struct LineConfig
{
    QString port; // "COM1", "/dev/serial/by-id/...", later "tcp://host:port"
    int baud = 9600;
    QVector<int> stations;
    int cycleMs = 1000;             // 0: back to back
    QString name;                   // the line's level in the topics
    EchoMode echo = EchoMode::Auto; // what its adapter does with each request
};

struct BrokerConfig
{
    QString url; // as written, never with credentials in it
    QString host;
    int port = 1883;
    bool tls = false;
    QString clientId;
    QString username;
    QString passwordFile;
    QString caFile;
    int keepaliveS = 30;
    int bufferMessages = 100000;
};

// A module a Modbus TCP unit id stands for.
struct UnitRoute
{
    int line = 0; // its index in the lines
    int station = 1;

    bool operator==(const UnitRoute &o) const { return line == o.line && station == o.station; }
};

// The Modbus TCP server that lets the plant's other masters ask the lines.
struct ServeConfig
{
    bool enabled = false;
    QString bind = QStringLiteral("127.0.0.1");
    int port = 502;
    bool writes = false;
    int maxClients = 8;
    int idleTimeoutS = 60;
    // Unit id to module; by default each polled station under its own number.
    QMap<int, UnitRoute> units;
};

struct GatewayConfig
{
    QVector<LineConfig> lines;
    BrokerConfig broker;
    QString topicPrefix;
    int qos = 1;
    bool dataLogEnabled = false;
    QString dataLogFolder = QStringLiteral("/var/lib/kc4420");
    bool discovery = false;
    bool writesAllowed = false;
    ServeConfig serve;

    int moduleCount() const;
};

// The configuration, or every fault in it, each naming its key
// ("lines[1].baud: 1200 is not one of ..."). Never holds a password.
struct ConfigReading
{
    std::optional<GatewayConfig> config;
    QStringList faults;
};

// hostName fills the defaults of the client id and the topic prefix.
ConfigReading parseGatewayConfig(const QByteArray &json, const QString &hostName);
ConfigReading loadGatewayConfig(const QString &path, const QString &hostName);

// A line's topic name from its port: the last part of the path, lower-case,
// anything but [a-z0-9_-] made '_' ("/dev/serial/by-id/usb-FTDI_X-if00-port0"
// becomes "usb-ftdi_x-if00-port0").
QString lineNameFromPort(const QString &port);

// "3 lines, 48 modules, broker mqtts://broker.plant:8883"
QString configSummary(const GatewayConfig &config);

// The password in the file (its first line); the fault when it cannot be read.
std::optional<QByteArray> readPasswordFile(const QString &path, QString *fault);

} // namespace kc
