#include "gateway/MqttPublisher.h"
#include "support/MosquittoBroker.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <mqtt/async_client.h>

#include <gtest/gtest.h>

#include <sys/prctl.h>

#include <algorithm>
#include <csignal>
#include <memory>
#include <mutex>
#include <vector>

using kc::MqttPublisher;

namespace {

#define SKIP_WITHOUT_MOSQUITTO()                                                                   \
    if (!MosquittoBroker::available())                                                             \
    GTEST_SKIP() << MosquittoBroker::program().toStdString() << " is not installed"

struct Received
{
    QString topic;
    QByteArray payload;
    bool retained;
};

// Another client on the broker, as a plant's system would subscribe. A
// persistent one keeps its session on the broker while it is away.
class Subscriber
{
public:
    Subscriber(const MosquittoBroker &broker, const QString &filter, const QString &id,
               bool persistent = false)
        : m_client(QStringLiteral("tcp://127.0.0.1:%1").arg(broker.port()).toStdString(),
                   id.toStdString())
    {
        m_client.set_message_callback([this](mqtt::const_message_ptr m) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_received.push_back({QString::fromStdString(m->get_topic()),
                                  QByteArray::fromStdString(m->get_payload_str()),
                                  m->is_retained()});
        });
        m_client.connect(mqtt::connect_options_builder().clean_session(!persistent).finalize())
            ->wait();
        m_client.subscribe(filter.toStdString(), 1)->wait();
    }

    ~Subscriber()
    {
        try {
            m_client.disconnect()->wait();
        } catch (const mqtt::exception &) {
            // The broker is gone already.
        }
    }

    std::vector<Received> received()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }

    std::vector<Received> on(const QString &topic)
    {
        std::vector<Received> matching;
        for (const Received &r : received()) {
            if (r.topic == topic)
                matching.push_back(r);
        }
        return matching;
    }

    // The Qt event loop keeps running meanwhile, for the publisher.
    bool waitFor(const QString &topic, const QByteArray &payload, int timeoutMs = 10000)
    {
        return QTest::qWaitFor(
            [&] {
                for (const Received &r : on(topic)) {
                    if (r.payload == payload)
                        return true;
                }
                return false;
            },
            timeoutMs);
    }

private:
    mqtt::async_client m_client;
    std::mutex m_mutex;
    std::vector<Received> m_received;
};

kc::BrokerConfig brokerConfig(const MosquittoBroker &broker, const QString &clientId,
                              const QString &host = QStringLiteral("127.0.0.1"))
{
    kc::BrokerConfig config;
    config.url = broker.url();
    config.host = host;
    config.port = broker.port();
    config.tls = broker.url().startsWith(QLatin1String("mqtts"));
    config.clientId = clientId;
    return config;
}

bool waitConnected(MqttPublisher &publisher, bool connected)
{
    return QTest::qWaitFor([&] { return publisher.isConnected() == connected; }, 15000);
}

} // namespace

// The real program, ended by the plant's ways: a clean stop says "offline"
// itself; a killed one leaves it to the broker, from the last will.
TEST(GatewayBroker, StatusOnlineRetainedThenOfflineWhenTheGatewayEnds)
{
    SKIP_WITHOUT_MOSQUITTO();
    struct Row
    {
        const char *how;
        bool kill;
    };
    const Row rows[] = {{"SIGKILL", true}, {"SIGTERM", false}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.how);
        MosquittoBroker broker;
        ASSERT_TRUE(broker.start()) << broker.why().toStdString();
        QTemporaryDir dir;
        const QString config = dir.filePath(QStringLiteral("gateway.json"));
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(
            QJsonDocument::fromVariant(
                QVariantMap{{QStringLiteral("lines"),
                             QVariantList{QVariantMap{{QStringLiteral("port"), "/dev/kc-none"},
                                                      {QStringLiteral("stations"), "1-2"}}}},
                            {QStringLiteral("broker"), QVariantMap{{"url", broker.url()}}},
                            {QStringLiteral("topic_prefix"), QStringLiteral("kc4420/test")}})
                .toJson());
        file.close();

        const QString status = QStringLiteral("kc4420/test/status");
        Subscriber early(broker, status, QStringLiteral("early"));
        QProcess gateway;
        gateway.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        gateway.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        gateway.start(QStringLiteral(KC_GATEWAY_PATH), {QStringLiteral("--config"), config});
        ASSERT_TRUE(early.waitFor(status, "online"));
        Subscriber late(broker, status, QStringLiteral("late"));
        ASSERT_TRUE(late.waitFor(status, "online"));
        EXPECT_TRUE(late.on(status).front().retained);

        if (row.kill) {
            gateway.kill();
        } else {
            gateway.terminate();
            ASSERT_TRUE(gateway.waitForFinished(10000));
            EXPECT_EQ(gateway.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(gateway.exitCode(), 0);
        }
        EXPECT_TRUE(early.waitFor(status, "offline"));
        Subscriber after(broker, status, QStringLiteral("after"));
        ASSERT_TRUE(after.waitFor(status, "offline"));
        EXPECT_TRUE(after.on(status).back().retained);
        gateway.waitForFinished(5000);
    }
}

// Published just before the broker stops or while it is away: within the
// bound everything arrives after the restart, in order (what was on its way
// when the connection broke may come twice); past the bound the oldest are
// dropped and counted.
TEST(GatewayBroker, PublicationsWaitForABrokerThatIsAwayWithinTheirBound)
{
    SKIP_WITHOUT_MOSQUITTO();
    struct Row
    {
        int bound, beforeStop, whileAway, dropped;
    };
    const Row rows[] = {{1000, 200, 300, 0}, {50, 0, 80, 30}};
    for (const Row &row : rows) {
        SCOPED_TRACE(QStringLiteral("bound %1").arg(row.bound).toStdString());
        MosquittoBroker broker;
        ASSERT_TRUE(broker.start()) << broker.why().toStdString();
        const QString prefix = QStringLiteral("kc4420/burst");
        const QString sequence = prefix + QStringLiteral("/seq");
        auto subscriber =
            std::make_unique<Subscriber>(broker, prefix + "/#", QStringLiteral("burst"), true);

        kc::BrokerConfig config = brokerConfig(broker, QStringLiteral("gateway-burst"));
        config.bufferMessages = row.bound;
        MqttPublisher publisher(config, {}, prefix, 1);
        publisher.setRetryDelays(100, 400);
        ASSERT_TRUE(publisher.start());
        ASSERT_TRUE(waitConnected(publisher, true));

        // No event is handled between these and the stop, so some are still
        // unconfirmed when the connection breaks.
        const int published = row.beforeStop + row.whileAway;
        for (int i = 0; i < row.beforeStop; ++i)
            publisher.publish(sequence, QByteArray::number(i), false);
        broker.stop();
        std::vector<Received> arrived = subscriber->on(sequence);
        subscriber.reset();
        ASSERT_TRUE(waitConnected(publisher, false));
        for (int i = row.beforeStop; i < published; ++i)
            publisher.publish(sequence, QByteArray::number(i), false);
        EXPECT_EQ(publisher.dropped(), row.dropped);

        ASSERT_TRUE(broker.start()) << broker.why().toStdString();
        subscriber =
            std::make_unique<Subscriber>(broker, prefix + "/#", QStringLiteral("burst"), true);
        ASSERT_TRUE(subscriber->waitFor(sequence, QByteArray::number(published - 1), 20000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return publisher.buffered() == 0; }, 10000));
        for (const Received &r : subscriber->on(sequence))
            arrived.push_back(r);
        std::vector<QByteArray> expected, firstTimes;
        for (int i = row.dropped; i < published; ++i)
            expected.push_back(QByteArray::number(i));
        for (const Received &r : arrived) {
            if (std::find(firstTimes.begin(), firstTimes.end(), r.payload) == firstTimes.end())
                firstTimes.push_back(r.payload);
        }
        EXPECT_EQ(firstTimes, expected);

        const auto documents = subscriber->on(prefix + QStringLiteral("/gateway"));
        ASSERT_FALSE(documents.empty());
        const QJsonObject last = QJsonDocument::fromJson(documents.back().payload).object();
        EXPECT_EQ(last.value(QStringLiteral("dropped")).toInt(-1), row.dropped);
        EXPECT_TRUE(last.value(QStringLiteral("connected")).toBool());
    }
}

// TLS under the plant's CA with a password connects; without the CA, to a
// host the certificate does not name, or with a wrong password the log says which.
TEST(GatewayBroker, TlsAndPasswordConnectOnlyWithTheRightOnes)
{
    SKIP_WITHOUT_MOSQUITTO();
    MosquittoBroker broker(true, true);
    ASSERT_TRUE(broker.start()) << broker.why().toStdString();
    struct Row
    {
        const char *name;
        const char *host;
        bool ca;
        QByteArray password;
        bool connects;
        const char *logged;
    };
    const Row rows[] = {
        {"CA and password", "127.0.0.1", true, MosquittoBroker::secret, true, "connected to mqtts"},
        {"no CA", "127.0.0.1", false, MosquittoBroker::secret, false, "certificate verify failed"},
        {"host not named", "127.0.0.2", true, MosquittoBroker::secret, false,
         "certificate does not name 127.0.0.2"},
        {"wrong password", "127.0.0.1", true, "not-the-password", false, "user name or password"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        kc::BrokerConfig config =
            brokerConfig(broker, QStringLiteral("gateway-tls"), QLatin1String(row.host));
        config.username = QLatin1String(MosquittoBroker::user);
        if (row.ca)
            config.caFile = broker.caFile();
        MqttPublisher publisher(config, row.password, QStringLiteral("kc4420/tls"), 1);
        QStringList log;
        QObject::connect(&publisher, &MqttPublisher::logLine,
                         [&log](int, const QString &line) { log << line; });
        ASSERT_TRUE(publisher.start());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !log.isEmpty(); }, 15000));
        EXPECT_EQ(publisher.isConnected(), row.connects);
        EXPECT_TRUE(log.first().contains(QLatin1String(row.logged))) << log.first().toStdString();
        EXPECT_FALSE(log.join(QLatin1Char('\n')).contains(QLatin1String(MosquittoBroker::secret)));
        publisher.stop(1000);
    }
}
