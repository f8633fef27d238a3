#pragma once

#include "gateway/GatewayConfig.h"

#include <QObject>
#include <QTcpServer>

#include <functional>
#include <optional>

namespace kc {

class PortPoller;

// Modbus TCP for the plant's other masters (SCADA): each request is put to the
// module its unit id stands for, on that line's poller between its polls, and
// answered with the module's reply in MBAP form. The server never asks the
// line itself: one master a line. A client that breaks the framing, sends
// more than it waits for or stays silent too long is closed; the others and
// the polling go on.
class ModbusServer : public QObject
{
    Q_OBJECT
public:
    struct Route
    {
        PortPoller *poller = nullptr; // nothing while the line is not the gateway's
        int station = 1;
    };
    // The module of a unit id; nothing for a unit id that stands for none.
    using Router = std::function<std::optional<Route>(int unit)>;

    ModbusServer(const ServeConfig &config, Router router, QObject *parent = nullptr);
    ~ModbusServer() override;

    // False, with why, when the address cannot be listened at.
    bool listen(QString *why);
    void close();
    quint16 port() const { return m_server.serverPort(); }
    int clientCount() const { return m_clients; }

private:
    friend class ModbusConnection;
    void accept();

    ServeConfig m_config;
    Router m_router;
    QTcpServer m_server;
    int m_clients = 0;
};

} // namespace kc
