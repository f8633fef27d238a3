#include "operations/Messages.h"
#include "operations/Outcomes.h"
#include "support/GatewayProcess.h"
#include "support/MosquittoBroker.h"
#include "support/QtPrint.h"
#include "support/SimProcess.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

// kc4420-gateway polling simulated modules on pseudo-terminals and publishing
// to a real Mosquitto, as a plant runs it.

namespace {

const QString prefix = QStringLiteral("kc4420/t");

// Simulated modules on a pty under a stable name, and a gateway polling them
// as line "hall1" into the broker; lineKeys add to or replace the line's.
struct Plant
{
    QTemporaryDir dir;
    MosquittoBroker broker;
    std::unique_ptr<SimProcess> sim;
    GatewayProcess gateway{QStringLiteral(KC_GATEWAY_PATH)};
    QVariantMap config;
    bool brokerUp;

    Plant(const QString &stations, int cycleMs, const QStringList &simArguments = {},
          const QVariantMap &lineKeys = {})
        : brokerUp(broker.start())
    {
        sim =
            std::make_unique<SimProcess>(QStringList{"--control", "--fixed", "--link",
                                                     dir.filePath("line"), "--stations", stations} +
                                         simArguments);
        QVariantMap line{{"port", dir.filePath("line")},
                         {"stations", stations},
                         {"cycle_ms", cycleMs},
                         {"name", "hall1"}};
        line.insert(lineKeys);
        config = GatewayProcess::config(broker, prefix, {line});
    }
    bool start() { return brokerUp && sim->ready() && gateway.start(config); }
};

QString topic(int station, const char *leaf)
{
    return QStringLiteral("%1/hall1/%2/%3").arg(prefix).arg(station).arg(QLatin1String(leaf));
}

QJsonObject json(const QByteArray &payload)
{
    return QJsonDocument::fromJson(payload).object();
}

// Plant started with the gateway's Modbus TCP server on a free loopback port
// for its line, whose stations are served under their own numbers: the port,
// or 0 when it does not serve.
int serving(Plant &plant, QVariantMap serve)
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    serve["port"] = probe.serverPort();
    probe.close();
    plant.config["serve"] = serve;
    const auto serves = [&] { return plant.gateway.messages().contains("Modbus TCP at"); };
    return plant.start() && QTest::qWaitFor(serves) ? serve["port"].toInt() : 0;
}

QString run(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.start(program, arguments);
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
}

} // namespace

// Each module's state as a retained document with the simulated values, its
// availability, and discovery documents that point at both.
TEST(GatewayService, StatesAndDiscoveryOfAnsweringModules)
{
    SKIP_WITHOUT_MOSQUITTO();
    Plant plant("1-2", 200, {"--set", "0=65000", "--set", "1=6520"});
    plant.config["discovery"] = true;
    ASSERT_TRUE(plant.start()) << plant.broker.why().toStdString();
    BrokerSubscriber first(plant.broker, {prefix + "/#"}, "first");
    ASSERT_TRUE(first.waitFor(topic(1, "availability"), "online") &&
                first.waitFor(topic(2, "availability"), "online"));

    // A subscriber that comes later gets the last of each, retained.
    BrokerSubscriber late(plant.broker, {prefix + "/#", "homeassistant/#"}, "late");
    const auto discoveryTopic = [](int station, const char *quantity) {
        return QStringLiteral("homeassistant/sensor/kc4420_t_hall1_%1_%2/config")
            .arg(station)
            .arg(quantity);
    };
    QStringList retained;
    for (const int station : {1, 2})
        retained << topic(station, "state") << topic(station, "availability")
                 << discoveryTopic(station, "temperature") << discoveryTopic(station, "humidity");
    ASSERT_TRUE(late.waitUntil([&] {
        return std::all_of(retained.begin(), retained.end(),
                           [&](const QString &t) { return !late.on(t).empty(); });
    }));
    for (const int station : {1, 2}) {
        SCOPED_TRACE(station);
        const auto states = late.on(topic(station, "state"));
        EXPECT_TRUE(states[0].retained);
        const QJsonObject state = json(states[0].payload);
        EXPECT_EQ(state.value("temperature_C").toDouble(), -5.35);
        EXPECT_EQ(state.value("humidity_RH").toDouble(), 65.2);
        EXPECT_EQ(state.value("outcome").toString(), "answered");
        EXPECT_EQ(state.value("device").toString(), QString("KC4420P-00%1").arg(station));
        EXPECT_GE(state.value("response_ms").toDouble(-1), 0);
        const auto availability = late.on(topic(station, "availability"));
        EXPECT_EQ(availability[0].payload, "online");
        EXPECT_TRUE(availability[0].retained);
        for (const char *quantity : {"temperature", "humidity"}) {
            const auto documents = late.on(discoveryTopic(station, quantity));
            ASSERT_EQ(documents.size(), 1u) << quantity;
            const QJsonObject discovery = json(documents[0].payload);
            EXPECT_EQ(discovery.value("state_topic").toString(), topic(station, "state"));
            EXPECT_EQ(discovery.value("availability")[0]["topic"].toString(),
                      topic(station, "availability"));
        }
    }
}

// A module that stops answering goes offline after three polls, a line that
// goes away takes its modules with it, and both come back online; the state
// says why and the journal which.
TEST(GatewayService, ModulesGoOfflineAndComeBack)
{
    SKIP_WITHOUT_MOSQUITTO();
    struct Row
    {
        const char *down, *up, *outcome, *logged;
    };
    const Row rows[] = {
        {"silent on", "silent off", "no_reply", "hall1/1 stopped answering (3 polls in a row)"},
        {"drop", "restore", "line_lost", "went away; reopened as soon as it is back"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.down);
        Plant plant("1", 0);
        ASSERT_TRUE(plant.start()) << plant.broker.why().toStdString();
        BrokerSubscriber s(plant.broker, {prefix + "/#"}, "watcher");
        ASSERT_TRUE(s.waitFor(topic(1, "availability"), "online"));
        plant.sim->command(row.down);
        ASSERT_TRUE(s.waitFor(topic(1, "availability"), "offline", 15000));
        EXPECT_EQ(json(s.on(topic(1, "state")).back().payload).value("outcome").toString(),
                  row.outcome);
        EXPECT_TRUE(plant.gateway.messages().contains(row.logged));
        plant.sim->command(row.up);
        // A dead module is tried again after ten seconds.
        ASSERT_TRUE(s.waitUntil([&] { return s.on(topic(1, "availability")).size() == 3; }, 20000));
        EXPECT_EQ(s.on(topic(1, "availability")).back().payload, "online");
    }
}

// Each line's adapter as configured: an echoing one read with its echo taken
// off; told there is none, the echo spoils every reply.
TEST(GatewayService, EachLineTakesItsAdaptersEcho)
{
    SKIP_WITHOUT_MOSQUITTO();
    for (const bool echoes : {true, false}) {
        Plant plant("1", 0, {"--echo"}, {{"echo", echoes ? "on" : "off"}});
        ASSERT_TRUE(plant.start()) << plant.broker.why().toStdString();
        BrokerSubscriber s(plant.broker, {prefix + "/#"}, "watcher");
        ASSERT_TRUE(s.waitUntil([&] { return s.on(topic(1, "state")).size() >= 2; }));
        EXPECT_EQ(json(s.on(topic(1, "state")).back().payload).value("outcome") == "answered",
                  echoes);
    }
}

// The broker stopped for seconds mid-run: polling and the data log go on,
// and every state polled meanwhile arrives once it is back, in order. A
// clean stop sends what waits before it says offline.
TEST(GatewayService, StatesPolledWhileTheBrokerIsAwayArriveInOrder)
{
    SKIP_WITHOUT_MOSQUITTO();
    Plant plant("1", 0);
    plant.config["data_log"] =
        QVariantMap{{"enabled", true}, {"folder", plant.dir.filePath("log")}};
    // Subscribed before the gateway starts, so every state is due to it.
    const QStringList filters{prefix + "/#"};
    auto s = std::make_unique<BrokerSubscriber>(plant.broker, filters, "outage", true);
    ASSERT_TRUE(plant.start()) << plant.broker.why().toStdString();
    ASSERT_TRUE(s->waitUntil([&] { return s->on(topic(1, "state")).size() >= 3; }));

    const QDateTime away = QDateTime::currentDateTime();
    plant.broker.stop();
    QTest::qWait(2500); // and the subscriber has handled what it got in the last moment
    auto arrived = s->on(topic(1, "state"));
    s.reset();
    const QDateTime back = QDateTime::currentDateTime();
    ASSERT_TRUE(plant.broker.start()) << plant.broker.why().toStdString();
    s = std::make_unique<BrokerSubscriber>(plant.broker, filters, "outage", true);
    // The retained "online" is the broker's stale copy until the gateway is back.
    ASSERT_TRUE(
        s->waitUntil([&] { return plant.gateway.messages().count("connected to") == 2; }, 40000));
    const auto lastStatus = [&] {
        const auto said = s->on(prefix + "/status");
        return said.empty() ? QByteArray() : said.back().payload;
    };
    ASSERT_TRUE(s->waitUntil([&] { return lastStatus() == "online"; }));
    ASSERT_TRUE(plant.gateway.terminate());
    ASSERT_TRUE(s->waitUntil([&] { return lastStatus() == "offline"; }));

    for (const auto &r : s->on(topic(1, "state")))
        arrived.push_back(r);
    QStringList times; // of each state, the first time it arrived
    for (const auto &r : arrived) {
        const QString time = json(r.payload).value("time").toString();
        if (!times.contains(time))
            times << time;
    }
    QStringList inOrder = times; // one offset all along: as text, in time order
    inOrder.sort();
    EXPECT_EQ(times, inOrder);
    EXPECT_TRUE(std::any_of(times.begin(), times.end(), [&](const QString &time) {
        const QDateTime t = QDateTime::fromString(time, Qt::ISODateWithMs);
        return t > away && t < back; // polled meanwhile
    }));
    int logged = 0;
    for (const QFileInfo &f : QDir(plant.dir.filePath("log")).entryInfoList({"*.csv"})) {
        QFile file(f.filePath());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        logged += int(file.readAll().count('\n')) - 1; // the header
    }
    EXPECT_EQ(times.size(), logged);
}

// Writes from the plant, with one round of polls an hour so the line is
// otherwise quiet: none without writes allowed, not even a subscription; a
// value the window's rules refuse sends nothing and gets the window's message;
// an accepted one is written and read back, or refused by the module.
TEST(GatewayService, WritesFromThePlant)
{
    SKIP_WITHOUT_MOSQUITTO();
    struct Row
    {
        bool allowed, retained;
        const char *simCommand, *value, *result;
        QString message;
        long long requests;
        int word;
    };
    const Row rows[] = {
        {false, false, "", "30.00", nullptr, {}, 0, 5000},
        {true, false, "", "30,5", "value_refused", kc::msg::valueNotNumber, 0, 5000},
        {true, false, "", "30", "confirmed", QStringLiteral("回读 30.00 一致"), 2, 3000},
        {true, false, "refuse 2", "30.00", "write_failed", kc::exceptionName(2), 1, 5000},
        // Published with the retain flag before the gateway came: replayed, not carried out.
        {true, true, "", "30.00", "retained", {}, 0, 5000},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.value);
        Plant plant("1", 3600000);
        plant.config["writes_allowed"] = row.allowed;
        BrokerSubscriber s(plant.broker, {prefix + "/#"}, "plant");
        if (row.retained)
            s.publish(topic(1, "set/5"), row.value, true);
        ASSERT_TRUE(plant.start()) << plant.broker.why().toStdString();
        ASSERT_TRUE(s.waitFor(topic(1, "availability"), "online"));
        if (*row.simCommand)
            plant.sim->command(row.simCommand);
        const long long before = plant.sim->stats().requests;
        if (!row.retained)
            s.publish(topic(1, "set/5"), row.value);
        const QString result = topic(1, "set/5/result");
        if (row.result) {
            ASSERT_TRUE(s.waitUntil([&] { return !s.on(result).empty(); }));
            const QJsonObject answer = json(s.on(result)[0].payload);
            EXPECT_EQ(answer.value("result").toString(), row.result);
            EXPECT_EQ(answer.value("value").toString(), row.value);
            EXPECT_TRUE(answer.value("message").toString().contains(row.message))
                << answer.value("message").toString().toStdString();
        } else {
            QTest::qWait(1500);
            EXPECT_TRUE(s.on(result).empty());
        }
        EXPECT_EQ(plant.sim->stats().requests, before + row.requests);
        EXPECT_EQ(plant.sim->registers()[5], row.word);
    }
}

// Independent masters ask through the gateway while it polls back to back:
// the module's registers as it has them, a silent station's 0x0B, a unit id
// of no module's 0x0A, writes refused unless allowed; the states go on.
TEST(GatewayService, ModbusTcpClientsShareTheLine)
{
    SKIP_WITHOUT_MOSQUITTO();
    for (const bool writes : {false, true}) {
        SCOPED_TRACE(writes);
        Plant plant("1-2", 0, {}, {{"stations", "1-3"}}); // 3 answers nothing
        const QString port = QString::number(serving(plant, {{"writes", writes}}));
        ASSERT_NE(port, "0") << plant.gateway.messages().toStdString();
        BrokerSubscriber s(plant.broker, {topic(1, "state")}, "watcher");
        ASSERT_TRUE(s.waitUntil([&] { return !s.on(topic(1, "state")).empty(); }));

        const QString mbpoll = run("mbpoll", {"-m", "tcp", "-p", port, "-a", "1", "-t", "4", "-r",
                                              "0", "-c", "2", "-0", "-1", "-o", "5", "127.0.0.1"});
        EXPECT_TRUE(mbpoll.contains("[0]: \t2534") && mbpoll.contains("[1]: \t6520"))
            << mbpoll.toStdString();
        const QStringList answers =
            run("/usr/bin/python3", {KC_MODBUS_CLIENT, port, "read:2:0:15", "write:2:2564:3000",
                                     "read:2:5:1", "read:3:0:2", "read:9:0:2"})
                .split('\n', Qt::SkipEmptyParts);
        const QStringList expected = {
            "{\"registers\": [2534, 6520, 0, 0, 0, 5000, 64535, 9000, 1000, 1, 2, 5, 9600, 1, "
            "1]}",
            writes ? "{\"written\": true}" : "{\"exception\": 1}",
            writes ? "{\"registers\": [3000]}" : "{\"registers\": [5000]}",
            "{\"exception\": 11}",
            "{\"exception\": 10}",
        };
        EXPECT_EQ(answers, expected);
        const size_t before = s.on(topic(1, "state")).size();
        EXPECT_TRUE(s.waitUntil([&] { return s.on(topic(1, "state")).size() >= before + 2; }));
    }
}

// A client that breaks the framing, one that announces 65535 bytes, and fifty
// that never say a word are each closed or refused; a client asking all the
// while is answered every time, and the polling goes on.
TEST(GatewayService, ModbusTcpMisbehavingClientsAreClosed)
{
    SKIP_WITHOUT_MOSQUITTO();
    Plant plant("1", 0);
    const int port = serving(plant, {{"max_clients", 8}, {"idle_timeout_s", 1}});
    ASSERT_NE(port, 0) << plant.gateway.messages().toStdString();
    BrokerSubscriber s(plant.broker, {topic(1, "state")}, "watcher");
    const auto connected = [port] {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, quint16(port));
        socket->waitForConnected(3000);
        return socket;
    };
    const auto good = connected();
    const QByteArray read = QByteArray::fromHex("000000000006010300000002");
    const QByteArray answer = QByteArray::fromHex("00000000000701030409e61978");

    // An HTTP request, and a header announcing 65535 bytes.
    for (const char *bytes : {"474554202f20485454502f312e310d0a0d0a", "00010000ffff0103"}) {
        const auto bad = connected();
        bad->write(QByteArray::fromHex(bytes));
        EXPECT_TRUE(bad->state() == QAbstractSocket::UnconnectedState ||
                    bad->waitForDisconnected(3000))
            << bytes;
    }
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < 50; ++i)
        idle.push_back(connected());
    const auto allClosed = [&] {
        return std::all_of(idle.begin(), idle.end(), [](const auto &socket) {
            return socket->state() == QAbstractSocket::UnconnectedState;
        });
    };
    int asked = 0;
    while (!allClosed() && asked < 100) {
        good->write(read);
        ASSERT_TRUE(good->waitForReadyRead(5000)) << asked;
        while (good->bytesAvailable() < answer.size() && good->waitForReadyRead(1000)) {
        }
        ASSERT_EQ(good->readAll(), answer) << asked;
        ++asked;
        QTest::qWait(50);
    }
    EXPECT_TRUE(allClosed());
    EXPECT_EQ(plant.gateway.messages().count("closed: not Modbus TCP"), 2);
    // Seven wait beside the asking one until they are found idle, the rest
    // are refused (more are let in should the first go before the last come).
    const auto refused = plant.gateway.messages().count("refused: 8 clients already");
    EXPECT_GT(refused, 0);
    EXPECT_EQ(plant.gateway.messages().count("closed: idle for 1 s") + refused, 50);
    const size_t before = s.on(topic(1, "state")).size();
    EXPECT_TRUE(s.waitUntil([&] { return s.on(topic(1, "state")).size() >= before + 2; }));
}
