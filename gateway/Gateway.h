#pragma once

#include "gateway/GatewayConfig.h"
#include "gateway/Topics.h"
#include "line/Monitor.h"
#include "line/PortClaims.h"
#include "line/Recorder.h"
#include "operations/DataLog.h"

#include <QObject>
#include <QTimer>
#include <QVector>

#include <memory>

namespace kc {

class ModbusServer;
class MqttPublisher;
class RowWriteSteps;

// The monitor's polling as the service runs it: each configured line polled by
// its own poller, lines in parallel; every poll published as its module's
// state, its availability when it stops answering and when it answers again;
// the data log fed while it is on; and, when the configuration allows them,
// the plant's writes carried out on the line between polls and answered.
class Gateway : public QObject
{
public:
    // links: the system's serial ports unless given (tests give fakes).
    Gateway(const GatewayConfig &config, MqttPublisher *publisher,
            PortClaims::LinkFactory links = {}, QObject *parent = nullptr);
    ~Gateway() override;

    // Publishes the discovery documents, subscribes to the write requests and
    // starts polling. False, with the journal told why, when a line cannot be
    // taken into the list.
    bool start();
    // Polling ends and the ports are let go; writes under way are answered.
    void stop();

private:
    // The Modbus TCP server, when configured; false when it cannot listen.
    bool serve();
    void onPolled(const WatchedModule &module, const Outcome &outcome);
    void onLineDown(const QString &port);
    void onLineUp(const QString &port);
    void setAvailability(int row, bool online);
    void onMessage(const QString &topic, const QByteArray &payload, bool retained);
    void writeStep(int row, const std::shared_ptr<RowWriteSteps> &steps, const QString &topic);
    void answerWrite(int row, const QString &topic, WriteAnswer answer);
    // "hall1/7"
    QString moduleName(int row) const;
    const LineConfig &lineOf(int row) const;

    GatewayConfig m_config;
    MqttPublisher *m_publisher;
    // Declared in the order they need each other: the monitor goes first, its
    // ports back to the claims.
    PortClaims m_claims;
    DataLog m_log;
    Recorder m_recorder;
    Monitor m_monitor;
    std::unique_ptr<ModbusServer> m_server; // after the monitor: it goes first
    QTimer m_logRetry;
    QVector<int> m_lineOfRow;    // the configured line of each of the monitor's rows
    QVector<int> m_availability; // per row: -1 not said yet, 0 offline, 1 online
    bool m_running = false;
};

} // namespace kc
