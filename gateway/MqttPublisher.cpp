#include "gateway/MqttPublisher.h"

#include "gateway/Topics.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>

#include <mqtt/async_client.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <utility>

namespace kc {

namespace {

constexpr int priorityError = 3;
constexpr int priorityWarning = 4;
constexpr int priorityInfo = 6;
// Messages handed to the library at once: enough to keep the link busy,
// few enough that a lost connection leaves little to send twice.
constexpr int window = 64;

QString connectFailureText(int code)
{
    // A broker's refusal (CONNACK) is a small positive code, the library's own
    // failures are negative.
    switch (code) {
    case 1:
        return QStringLiteral("the broker refused the protocol version");
    case 2:
        return QStringLiteral("the broker refused the client id");
    case 3:
        return QStringLiteral("the broker is unavailable");
    case 4:
        return QStringLiteral("the broker refused the user name or password");
    case 5:
        return QStringLiteral("the broker refused: not authorized (user name or password)");
    case -1:
        return QStringLiteral("nothing answers at that address and port");
    default:
        return QString::fromStdString(mqtt::exception::error_str(code));
    }
}

} // namespace

// Receives the library's calls on its threads and posts them to the
// publisher's thread. detach() under the mutex guarantees nothing is posted
// once the publisher is going; what was posted before dies with it.
class MqttPublisher::Bridge : public mqtt::callback
{
public:
    explicit Bridge(MqttPublisher *target)
        : m_target(target), connectListener(this), publishListener(this)
    {
    }

    void detach()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_target = nullptr;
    }

    template <typename F> void post(F f)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_target)
            QMetaObject::invokeMethod(
                m_target, [target = m_target, f = std::move(f)]() { f(target); },
                Qt::QueuedConnection);
    }

    void setTlsError(const std::string &text)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tlsError = QString::fromStdString(text).trimmed();
    }

    QString takeTlsError()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::exchange(m_tlsError, QString());
    }

    void connection_lost(const std::string &cause) override
    {
        const QString text = QString::fromStdString(cause);
        post([text](MqttPublisher *p) { p->onConnectionLost(text); });
    }

    void message_arrived(mqtt::const_message_ptr message) override
    {
        const QString topic = QString::fromStdString(message->get_topic());
        const QByteArray payload = QByteArray::fromStdString(message->get_payload_str());
        const bool retained = message->is_retained();
        post([topic, payload, retained](MqttPublisher *p) {
            emit p->messageReceived(topic, payload, retained);
        });
    }

    class ConnectListener : public mqtt::iaction_listener
    {
    public:
        explicit ConnectListener(Bridge *bridge) : m_bridge(bridge) {}
        void on_success(const mqtt::token &) override
        {
            m_bridge->post([](MqttPublisher *p) { p->onConnected(); });
        }
        void on_failure(const mqtt::token &token) override
        {
            const int code = token.get_return_code();
            const QString tls = m_bridge->takeTlsError();
            m_bridge->post([code, tls](MqttPublisher *p) { p->onConnectFailed(code, tls); });
        }

    private:
        Bridge *m_bridge;
    };

    // The message's sequence number rides in the token's user context.
    class PublishListener : public mqtt::iaction_listener
    {
    public:
        explicit PublishListener(Bridge *bridge) : m_bridge(bridge) {}
        void on_success(const mqtt::token &token) override
        {
            const auto seq = quint64(reinterpret_cast<std::uintptr_t>(token.get_user_context()));
            m_bridge->post([seq](MqttPublisher *p) { p->onConfirmed(seq); });
        }
        // A failed publish stays queued: the connection is going, and all that
        // is unconfirmed is sent again once it is back.
        void on_failure(const mqtt::token &) override {}

    private:
        Bridge *m_bridge;
    };

private:
    std::mutex m_mutex;
    MqttPublisher *m_target;
    QString m_tlsError;

public:
    ConnectListener connectListener;
    PublishListener publishListener;
};

MqttPublisher::MqttPublisher(const BrokerConfig &broker, const QByteArray &password,
                             const QString &prefix, int qos, QObject *parent)
    : QObject(parent), m_broker(broker), m_password(password), m_prefix(prefix), m_qos(qos),
      m_bridge(std::make_shared<Bridge>(this)), m_retryTimer(new QTimer(this)),
      m_statusTimer(new QTimer(this))
{
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, &MqttPublisher::connectNow);
    m_statusTimer->setInterval(10000);
    connect(m_statusTimer, &QTimer::timeout, this, [this] { publishGatewayStatus(false); });
}

MqttPublisher::~MqttPublisher()
{
    m_bridge->detach();
    if (m_client) {
        try {
            m_client->disable_callbacks();
            m_client->disconnect(0)->wait_for(std::chrono::milliseconds(500));
        } catch (const mqtt::exception &) {
            // Not connected: nothing to end.
        }
        m_client.reset();
    }
}

void MqttPublisher::setRetryDelays(int firstMs, int longestMs)
{
    m_firstRetryMs = firstMs;
    m_longestRetryMs = longestMs;
    m_retryMs = firstMs;
}

void MqttPublisher::setGatewayStatusPeriod(int ms)
{
    m_statusTimer->setInterval(ms);
}

bool MqttPublisher::start()
{
    const QString host = m_broker.host.contains(QLatin1Char(':'))
                             ? QLatin1Char('[') + m_broker.host + QLatin1Char(']')
                             : m_broker.host;
    const QString uri = QStringLiteral("%1://%2:%3")
                            .arg(m_broker.tls ? QStringLiteral("ssl") : QStringLiteral("tcp"), host)
                            .arg(m_broker.port);
    try {
        m_client = std::make_unique<mqtt::async_client>(uri.toStdString(),
                                                        m_broker.clientId.toStdString());
        m_client->set_callback(*m_bridge);
    } catch (const mqtt::exception &e) {
        emit logLine(priorityError, QStringLiteral("cannot set up the connection to %1: %2")
                                        .arg(m_broker.url, QString::fromStdString(e.what())));
        return false;
    }
    if (m_broker.tls && !m_ssl) {
        m_ssl = std::make_unique<mqtt::ssl_options>();
        if (!m_broker.caFile.isEmpty())
            m_ssl->set_trust_store(m_broker.caFile.toStdString());
        m_ssl->set_enable_server_cert_auth(true);
        m_ssl->set_verify(true); // the certificate must name the host we asked for
        Bridge *bridge = m_bridge.get();
        m_ssl->set_error_handler([bridge](const std::string &text) { bridge->setTlsError(text); });
    }
    m_stopping = false;
    m_statusTimer->start();
    connectNow();
    return true;
}

void MqttPublisher::connectNow()
{
    if (!m_client || m_connected || m_connecting || m_stopping)
        return;
    auto options = mqtt::connect_options_builder()
                       .clean_session(true)
                       .keep_alive_interval(std::chrono::seconds(m_broker.keepaliveS))
                       .connect_timeout(std::chrono::seconds(10))
                       .will(mqtt::message(statusTopic(m_prefix).toStdString(), "offline", 1, true))
                       .finalize();
    if (!m_broker.username.isEmpty()) {
        options.set_user_name(m_broker.username.toStdString());
        options.set_password(m_password.toStdString());
    }
    if (m_ssl)
        options.set_ssl(*m_ssl);
    m_connecting = true;
    try {
        m_client->connect(options, nullptr, m_bridge->connectListener);
    } catch (const mqtt::exception &e) {
        m_connecting = false;
        scheduleRetry(QString::fromStdString(e.what()));
    }
}

void MqttPublisher::onConnected()
{
    // The library reports one connect twice; only the first counts.
    if (!m_connecting)
        return;
    m_connecting = false;
    if (m_stopping)
        return;
    m_connected = true;
    m_retryMs = m_firstRetryMs;
    emit logLine(priorityInfo, QStringLiteral("connected to %1").arg(m_broker.url));
    publishDirect(statusTopic(m_prefix), QByteArrayLiteral("online"));
    for (int i = 0; i < m_filters.size(); ++i) {
        try {
            m_client->subscribe(m_filters[i].toStdString(), m_filterQos[i]);
        } catch (const mqtt::exception &e) {
            emit logLine(priorityWarning, QStringLiteral("cannot subscribe to %1: %2")
                                              .arg(m_filters[i], QString::fromStdString(e.what())));
        }
    }
    publishGatewayStatus(true);
    emit connectedChanged(true);
    pump();
}

void MqttPublisher::onConnectFailed(int code, const QString &tlsError)
{
    if (!m_connecting)
        return;
    m_connecting = false;
    if (m_stopping)
        return;
    QString why = connectFailureText(code);
    if (!tlsError.isEmpty())
        why = QStringLiteral("TLS: %1").arg(tlsError);
    // The library checks the certificate's names after the handshake and
    // says nothing of it; a broker that is up is then the likely cause.
    else if (code == -1 && m_broker.tls)
        why += QStringLiteral(", or the broker's certificate does not name %1").arg(m_broker.host);
    scheduleRetry(why);
}

void MqttPublisher::onConnectionLost(const QString &cause)
{
    if (!m_connected)
        return;
    m_connected = false;
    if (m_draining)
        m_draining->quit();
    // Whatever was handed over and not confirmed goes again, in order.
    m_handedOver = 0;
    m_inFlight = 0;
    emit connectedChanged(false);
    scheduleRetry(cause.isEmpty() ? QStringLiteral("connection lost") : cause);
}

void MqttPublisher::scheduleRetry(const QString &why)
{
    emit logLine(priorityWarning, QStringLiteral("no connection to %1: %2; trying again in %3 s")
                                      .arg(m_broker.url, why)
                                      .arg(m_retryMs / 1000.0, 0, 'g', 3));
    m_retryTimer->start(m_retryMs);
    m_retryMs = std::min(m_retryMs * 2, m_longestRetryMs);
}

void MqttPublisher::stop(int timeoutMs)
{
    m_stopping = true;
    m_retryTimer->stop();
    m_statusTimer->stop();
    if (!m_client)
        return;
    // A clean stop loses nothing the broker can still take.
    if (m_connected && !m_queue.empty()) {
        QEventLoop draining;
        m_draining = &draining;
        QTimer::singleShot(timeoutMs, &draining, &QEventLoop::quit);
        draining.exec();
        m_draining = nullptr;
    }
    const auto wait = std::chrono::milliseconds(timeoutMs);
    try {
        if (m_connected) {
            const QByteArray gateway = gatewayPayload(false, buffered(), m_dropped);
            m_client->publish(gatewayTopic(m_prefix).toStdString(), gateway.constData(),
                              std::size_t(gateway.size()), 1, true);
            m_client->publish(statusTopic(m_prefix).toStdString(), "offline", 7, 1, true)
                ->wait_for(wait);
        }
        m_client->disconnect(timeoutMs)->wait_for(wait);
    } catch (const mqtt::exception &) {
        // Already gone: the broker has published the last will instead.
    }
    if (m_connected) {
        m_connected = false;
        emit connectedChanged(false);
    }
    if (!m_queue.empty())
        emit logLine(priorityWarning,
                     QStringLiteral("stopping with %1 message(s) the broker has not confirmed")
                         .arg(m_queue.size()));
}

void MqttPublisher::publish(const QString &topic, const QByteArray &payload, bool retain, int qos)
{
    if (m_queue.size() >= std::size_t(std::max(1, m_broker.bufferMessages))) {
        if (m_handedOver > 0) {
            --m_handedOver;
            if (!m_queue.front().confirmed)
                --m_inFlight;
        }
        m_queue.pop_front();
        ++m_dropped;
    }
    m_queue.push_back({m_nextSeq++, topic, payload, retain, qos < 0 ? m_qos : qos, false});
    pump();
}

void MqttPublisher::subscribe(const QString &filter, int qos)
{
    m_filters << filter;
    m_filterQos << qos;
    if (!m_connected)
        return;
    try {
        m_client->subscribe(filter.toStdString(), qos);
    } catch (const mqtt::exception &) {
        // Lost meanwhile; made again on the next connect.
    }
}

void MqttPublisher::pump()
{
    while (m_connected && m_inFlight < window && m_handedOver < m_queue.size()) {
        Pending &p = m_queue[m_handedOver];
        if (p.confirmed) {
            ++m_handedOver;
            continue;
        }
        try {
            auto message = mqtt::make_message(p.topic.toStdString(), p.payload.constData(),
                                              std::size_t(p.payload.size()), p.qos, p.retain);
            m_client->publish(message, reinterpret_cast<void *>(std::uintptr_t(p.seq)),
                              m_bridge->publishListener);
            ++m_inFlight;
        } catch (const mqtt::exception &e) {
            if (e.get_return_code() == MQTTASYNC_DISCONNECTED)
                return; // the lost connection's call is on its way
            // The library will never take this one (a malformed topic): drop it.
            emit logLine(priorityWarning, QStringLiteral("cannot publish to %1: %2")
                                              .arg(p.topic, QString::fromStdString(e.what())));
            p.confirmed = true;
            ++m_dropped;
        }
        ++m_handedOver;
    }
    while (!m_queue.empty() && m_queue.front().confirmed) {
        m_queue.pop_front();
        if (m_handedOver > 0)
            --m_handedOver;
    }
    if (m_draining && m_queue.empty())
        m_draining->quit();
}

void MqttPublisher::onConfirmed(quint64 seq)
{
    if (m_queue.empty() || seq < m_queue.front().seq || seq > m_queue.back().seq)
        return; // dropped meanwhile, or confirmed twice after a resend
    const std::size_t index = std::size_t(seq - m_queue.front().seq);
    Pending &p = m_queue[index];
    if (p.confirmed)
        return;
    p.confirmed = true;
    if (index < m_handedOver)
        --m_inFlight;
    pump();
}

void MqttPublisher::publishDirect(const QString &topic, const QByteArray &payload)
{
    try {
        m_client->publish(topic.toStdString(), payload.constData(), std::size_t(payload.size()), 1,
                          true);
    } catch (const mqtt::exception &) {
        // Lost meanwhile; it is said again on the next connect.
    }
}

void MqttPublisher::publishGatewayStatus(bool force)
{
    if (!m_connected)
        return;
    if (!force && buffered() == m_reportedBuffered && m_dropped == m_reportedDropped)
        return;
    m_reportedBuffered = buffered();
    m_reportedDropped = m_dropped;
    publishDirect(gatewayTopic(m_prefix), gatewayPayload(true, m_reportedBuffered, m_dropped));
}

} // namespace kc
