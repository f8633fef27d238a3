#include "gateway/MqttPublisher.h"
#include "support/GatewayProcess.h"
#include "support/MosquittoBroker.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

using kc::MqttPublisher;

namespace {

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

// The real program killed: the broker says "offline" for it, from the last
// will, retained. (A clean stop saying it itself is the outage test's end.)
TEST(GatewayBroker, StatusOnlineRetainedThenOfflineWhenTheGatewayIsKilled)
{
    SKIP_WITHOUT_MOSQUITTO();
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start()) << broker.why().toStdString();
    const QString status = QStringLiteral("kc4420/test/status");
    BrokerSubscriber early(broker, {status}, QStringLiteral("early"));
    GatewayProcess gateway(QStringLiteral(KC_GATEWAY_PATH));
    ASSERT_TRUE(gateway.start(
        GatewayProcess::config(broker, QStringLiteral("kc4420/test"),
                               {QVariantMap{{"port", "/dev/kc-none"}, {"stations", "1-2"}}})));
    ASSERT_TRUE(early.waitFor(status, "online"));
    BrokerSubscriber late(broker, {QStringLiteral("kc4420/test/#")}, QStringLiteral("late"));
    ASSERT_TRUE(late.waitFor(status, "online"));
    EXPECT_TRUE(late.on(status).front().retained);
    // Its one line will not open: its modules say so, and the journal why.
    ASSERT_TRUE(late.waitFor("kc4420/test/kc-none/2/availability", "offline"));
    const auto state = late.on("kc4420/test/kc-none/2/state");
    ASSERT_FALSE(state.empty());
    EXPECT_TRUE(state.front().payload.contains(R"("outcome":"port_not_opened")"));
    EXPECT_TRUE(
        gateway.messages().contains("line kc-none: cannot open /dev/kc-none: no such device"));

    gateway.kill();
    EXPECT_TRUE(late.waitFor(status, "offline"));
    BrokerSubscriber after(broker, {status}, QStringLiteral("after"));
    ASSERT_TRUE(after.waitFor(status, "offline"));
    EXPECT_TRUE(after.on(status).back().retained);
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
        const QStringList filters{prefix + "/#"};
        auto subscriber =
            std::make_unique<BrokerSubscriber>(broker, filters, QStringLiteral("burst"), true);

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
        auto arrived = subscriber->on(sequence);
        subscriber.reset();
        ASSERT_TRUE(waitConnected(publisher, false));
        for (int i = row.beforeStop; i < published; ++i)
            publisher.publish(sequence, QByteArray::number(i), false);
        EXPECT_EQ(publisher.dropped(), row.dropped);

        ASSERT_TRUE(broker.start()) << broker.why().toStdString();
        subscriber =
            std::make_unique<BrokerSubscriber>(broker, filters, QStringLiteral("burst"), true);
        ASSERT_TRUE(subscriber->waitFor(sequence, QByteArray::number(published - 1), 20000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return publisher.buffered() == 0; }, 10000));
        for (const auto &r : subscriber->on(sequence))
            arrived.push_back(r);
        std::vector<QByteArray> expected, firstTimes;
        for (int i = row.dropped; i < published; ++i)
            expected.push_back(QByteArray::number(i));
        for (const auto &r : arrived) {
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
