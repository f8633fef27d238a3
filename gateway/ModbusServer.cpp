#include "gateway/ModbusServer.h"

#include "gateway/GatewayService.h"
#include "line/PortPoller.h"
#include "operations/Relay.h"
#include "protocol/Mbap.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

namespace kc {

namespace {

// A client may send its next requests before the answers: this many bytes
// wait at most, some twenty requests; more is a client that does not read.
constexpr int inputCap = 4096;

} // namespace

// One client: its requests one at a time, in the order they came.
class ModbusConnection : public QObject
{
public:
    ModbusConnection(QTcpSocket *socket, ModbusServer *server)
        : QObject(server), m_server(server), m_socket(socket),
          m_peer(
              QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort()))
    {
        socket->setParent(this);
        ++m_server->m_clients;
        m_idle.setSingleShot(true);
        m_idle.setInterval(server->m_config.idleTimeoutS * 1000);
        connect(&m_idle, &QTimer::timeout, this, [this] {
            if (m_waiting)
                m_idle.start(); // the line has its request: the client waits for us
            else
                end(QStringLiteral("idle for %1 s").arg(m_idle.interval() / 1000));
        });
        connect(socket, &QTcpSocket::readyRead, this, &ModbusConnection::read);
        connect(socket, &QTcpSocket::disconnected, this, [this] { end({}); });
        m_idle.start();
        read();
    }

    ~ModbusConnection() override { --m_server->m_clients; }

    // Closes the connection; why goes to the journal unless the client left.
    void end(const QString &why)
    {
        if (m_ended)
            return;
        m_ended = true;
        if (!why.isEmpty())
            serviceLog(LogPriority::warning,
                       QStringLiteral("Modbus TCP client %1 closed: %2").arg(m_peer, why));
        m_idle.stop();
        m_socket->disconnect(this);
        m_socket->abort();
        deleteLater();
    }

private:
    void read()
    {
        if (m_ended)
            return;
        m_input += m_socket->readAll();
        m_idle.start();
        if (m_input.size() > inputCap)
            return end(QStringLiteral("more than %1 bytes of requests unanswered").arg(inputCap));
        next();
    }

    void next()
    {
        if (m_ended || m_waiting)
            return;
        const MbapSplit split = splitMbap(m_input);
        if (split.state == MbapSplit::State::Broken)
            return end(QStringLiteral("not Modbus TCP (a header no request can have)"));
        if (split.state == MbapSplit::State::Partial)
            return;
        m_input.remove(0, split.size);
        ask(split.adu);
    }

    void ask(const MbapAdu &adu)
    {
        const std::optional<ModbusServer::Route> route = m_server->m_router(adu.unit);
        if (!route || !route->poller)
            return answer(adu, exceptionPdu(adu.pdu, relayException::pathUnavailable));
        const auto request = relayedRequest(route->station, adu.pdu, m_server->m_config.writes);
        if (const int *refused = std::get_if<int>(&request))
            return answer(adu, exceptionPdu(adu.pdu, *refused));
        m_waiting = true;
        const QPointer<ModbusConnection> self(this);
        const bool queued = route->poller->interject(
            std::get<Request>(request), [self, adu](const std::optional<Outcome> &outcome) {
                if (!self)
                    return; // the client left while the line had its request
                self->m_waiting = false;
                self->answer(adu, outcome ? relayedAnswer(*outcome)
                                          : exceptionPdu(adu.pdu, relayException::pathUnavailable));
            });
        if (!queued) {
            m_waiting = false;
            answer(adu, exceptionPdu(adu.pdu, relayException::pathUnavailable));
        }
    }

    void answer(const MbapAdu &asked, const QByteArray &pdu)
    {
        if (m_ended)
            return;
        m_socket->write(encodeMbap({asked.transaction, asked.unit, pdu}));
        m_idle.start();
        // Later: a next request put to the poller from inside an answer
        // would count as a step of that one and jump the queue.
        QTimer::singleShot(0, this, [this] { next(); });
    }

    ModbusServer *m_server;
    QTcpSocket *m_socket;
    QString m_peer;
    QTimer m_idle;
    QByteArray m_input;
    bool m_waiting = false;
    bool m_ended = false;
};

ModbusServer::ModbusServer(const ServeConfig &config, Router router, QObject *parent)
    : QObject(parent), m_config(config), m_router(std::move(router))
{
    connect(&m_server, &QTcpServer::newConnection, this, &ModbusServer::accept);
}

ModbusServer::~ModbusServer()
{
    close();
}

bool ModbusServer::listen(QString *why)
{
    // The connections are counted here: the server's own backlog stays small.
    if (m_server.listen(QHostAddress(m_config.bind), quint16(m_config.port)))
        return true;
    *why = QStringLiteral("cannot listen at %1:%2: %3")
               .arg(m_config.bind)
               .arg(m_config.port)
               .arg(m_server.errorString());
    return false;
}

void ModbusServer::close()
{
    m_server.close();
    for (ModbusConnection *c : findChildren<ModbusConnection *>(Qt::FindDirectChildrenOnly))
        c->end({});
}

void ModbusServer::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        if (m_clients >= m_config.maxClients) {
            serviceLog(LogPriority::warning,
                       QStringLiteral("Modbus TCP client %1:%2 refused: %3 clients already")
                           .arg(socket->peerAddress().toString())
                           .arg(socket->peerPort())
                           .arg(m_clients));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        new ModbusConnection(socket, this);
    }
}

} // namespace kc
