#pragma once

#include <mqtt/async_client.h>

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

// A real Mosquitto broker for one test, on a free loopback port, with its
// own configuration in a temporary folder. It can be stopped and started
// again on the same port, ask for a user name and password, and listen with
// TLS under a CA the test made. Its sessions and retained messages outlive
// a restart.
class MosquittoBroker
{
public:
    static constexpr const char *user = "plant";
    static constexpr const char *secret = "s3cret-pass";

    // password: only user/secret may connect; tls: a server certificate for
    // 127.0.0.1 and localhost, also offered on 127.0.0.2, which it does not name.
    explicit MosquittoBroker(bool password = false, bool tls = false);
    ~MosquittoBroker();

    static QString program();
    static bool available();

    // Starts it and waits until it takes connections; false, with why(), when
    // it did not.
    bool start();
    void stop();
    int port() const { return m_port; }
    QString url() const;
    QString caFile() const { return m_dir.filePath(QStringLiteral("ca.crt")); }
    QString why() const { return m_why; }

private:
    bool prepare();
    bool run(const QString &program, const QStringList &arguments);

    bool m_password;
    bool m_tls;
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
    bool m_prepared = false;
    QString m_why;
};

// Another client on the broker, as a plant's system would subscribe, keeping
// what arrives with the monotonic time it came. A persistent one keeps its
// session on the broker while it is away.
class BrokerSubscriber
{
public:
    struct Received
    {
        QString topic;
        QByteArray payload;
        bool retained;
        std::int64_t atNs; // CLOCK_MONOTONIC
    };

    BrokerSubscriber(const MosquittoBroker &broker, const QStringList &filters, const QString &id,
                     bool persistent = false);
    ~BrokerSubscriber();

    void publish(const QString &topic, const QByteArray &payload, bool retain = false);
    std::vector<Received> received();
    std::vector<Received> on(const QString &topic);
    // Runs the Qt event loop meanwhile, for whatever else the test runs.
    bool waitUntil(const std::function<bool()> &done, int timeoutMs = 10000);
    bool waitFor(const QString &topic, const QByteArray &payload, int timeoutMs = 10000);

private:
    mqtt::async_client m_client;
    std::mutex m_mutex;
    std::vector<Received> m_received;
};

// For a GoogleTest test: a machine without the broker skips it.
#define SKIP_WITHOUT_MOSQUITTO()                                                                   \
    if (!MosquittoBroker::available())                                                             \
    GTEST_SKIP() << MosquittoBroker::program().toStdString() << " is not installed"
