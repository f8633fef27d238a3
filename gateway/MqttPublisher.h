#pragma once

#include "gateway/GatewayConfig.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>
#include <memory>

class QEventLoop;
class QTimer;

namespace mqtt {
class async_client;
class ssl_options;
} // namespace mqtt

namespace kc {

// The gateway's one connection to the broker. Connects with "offline" as the
// last will on <prefix>/status and says "online" there on every connect;
// reconnects by itself, waiting 1 s after a failure and doubling to 30 s.
//
// Every message waits in a bounded queue until the broker has confirmed it
// (QoS 1) or it has been written (QoS 0), so a broker that goes away loses
// nothing within the bound and gets it all, in order, when it is back. Past
// the bound the oldest are dropped and counted; the count is published in
// the retained <prefix>/gateway document.
//
// The library calls back on its own threads; everything is handed to the
// thread this object lives in, where all its signals are emitted.
class MqttPublisher : public QObject
{
    Q_OBJECT
public:
    // password: from the broker's password file; empty when none.
    MqttPublisher(const BrokerConfig &broker, const QByteArray &password, const QString &prefix,
                  int qos, QObject *parent = nullptr);
    ~MqttPublisher() override;

    // For tests: the first wait after a failure, and the longest.
    void setRetryDelays(int firstMs, int longestMs);
    // How often the <prefix>/gateway document is refreshed while it changes.
    void setGatewayStatusPeriod(int ms);

    // Starts connecting; returns at once. False, with the reason logged, only
    // when the connection cannot even be set up (a malformed address).
    bool start();
    // Gives the broker what waits, if it is there, for at most timeoutMs; then
    // says "offline" on the status topic, waits at most timeoutMs for the
    // broker to take it, and disconnects.
    void stop(int timeoutMs = 3000);

    // qos below 0: the configured one.
    void publish(const QString &topic, const QByteArray &payload, bool retain = true, int qos = -1);
    // Kept, and made again on every connect.
    void subscribe(const QString &filter, int qos = 0);

    bool isConnected() const { return m_connected; }
    // Messages not yet confirmed by the broker, and those dropped past the bound.
    qint64 buffered() const { return qint64(m_queue.size()); }
    qint64 dropped() const { return m_dropped; }

signals:
    void connectedChanged(bool connected);
    // retained: replayed by the broker from its store as the subscription was
    // made, not published just now.
    void messageReceived(const QString &topic, const QByteArray &payload, bool retained);
    // One line for the service's log: a failed connect and why, a lost connection.
    void logLine(int priority, const QString &text);

private:
    class Bridge;
    struct Pending
    {
        quint64 seq;
        QString topic;
        QByteArray payload;
        bool retain;
        int qos;
        bool confirmed;
    };

    void connectNow();
    void onConnected();
    void onConnectFailed(int code, const QString &tlsError);
    void onConnectionLost(const QString &cause);
    void onConfirmed(quint64 seq);
    void scheduleRetry(const QString &why);
    void pump();
    void publishDirect(const QString &topic, const QByteArray &payload);
    void publishGatewayStatus(bool force);

    BrokerConfig m_broker;
    QByteArray m_password;
    QString m_prefix;
    int m_qos;
    std::shared_ptr<Bridge> m_bridge;
    // The library keeps the address of the TLS options it reports errors
    // through, so they stay put for as long as the client lives.
    std::unique_ptr<mqtt::ssl_options> m_ssl;
    std::unique_ptr<mqtt::async_client> m_client;
    QTimer *m_retryTimer;
    QTimer *m_statusTimer;
    QEventLoop *m_draining = nullptr; // while stop() waits for the queue to empty
    int m_firstRetryMs = 1000;
    int m_longestRetryMs = 30000;
    int m_retryMs = 1000;
    bool m_connected = false;
    bool m_connecting = false;
    bool m_stopping = false;
    QStringList m_filters;
    QList<int> m_filterQos;

    std::deque<Pending> m_queue; // oldest first; seq rises by one from front to back
    quint64 m_nextSeq = 1;
    std::size_t m_handedOver = 0; // the first m_handedOver went to the library on this connection
    int m_inFlight = 0;
    qint64 m_dropped = 0;
    qint64 m_reportedBuffered = -1, m_reportedDropped = -1;
};

} // namespace kc
