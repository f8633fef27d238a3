#include "MosquittoBroker.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

bool writeFile(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

int freePort()
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost, 0) ? server.serverPort() : 0;
}

} // namespace

MosquittoBroker::MosquittoBroker(bool password, bool tls) : m_password(password), m_tls(tls)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // A test that crashes takes its broker with it.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("mosquitto.log")),
                                    QIODevice::Append);
}

MosquittoBroker::~MosquittoBroker()
{
    stop();
}

QString MosquittoBroker::program()
{
    return QStringLiteral("/usr/sbin/mosquitto");
}

bool MosquittoBroker::available()
{
    return QFileInfo(program()).isExecutable();
}

QString MosquittoBroker::url() const
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(m_tls ? "mqtts" : "mqtt").arg(m_port);
}

bool MosquittoBroker::run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        m_why = QStringLiteral("%1 %2 failed: %3")
                    .arg(program, arguments.join(QLatin1Char(' ')),
                         QString::fromLocal8Bit(process.readAll()));
        return false;
    }
    return true;
}

bool MosquittoBroker::prepare()
{
    m_port = freePort();
    QByteArray config = QStringLiteral("listener %1 127.0.0.1\n").arg(m_port).toUtf8();
    // Kept across a restart, so a test's subscriber session gets what was
    // published while it had not yet come back.
    config += "persistence true\npersistence_location " + m_dir.path().toUtf8() +
              "/\nmax_queued_messages 100000\n";
    // Run as root, the broker would switch to its own user, which cannot read
    // this test's private folder.
    if (::geteuid() == 0)
        config += "user root\n";
    if (m_password) {
        if (!run(QStringLiteral("mosquitto_passwd"), {"-c", "-b", "passwd", user, secret}))
            return false;
        config +=
            "allow_anonymous false\npassword_file " + m_dir.filePath("passwd").toUtf8() + '\n';
    } else {
        config += "allow_anonymous true\n";
    }
    if (m_tls) {
        const QString ec = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
        const auto openssl = [&](const QString &arguments, const QString &subject = {}) {
            QStringList list = arguments.split(' ');
            if (!subject.isEmpty())
                list << "-subj" << subject;
            return run(QStringLiteral("openssl"), list);
        };
        if (!writeFile(m_dir.filePath("san.cnf"), "subjectAltName=IP:127.0.0.1,DNS:localhost\n") ||
            !openssl("req -x509 -days 2 " + ec + "-keyout ca.key -out ca.crt",
                     "/CN=kc4420 test CA") ||
            !openssl("req " + ec + "-keyout server.key -out server.csr", "/CN=127.0.0.1") ||
            !openssl("x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 "
                     "-out server.crt -extfile san.cnf"))
            return false;
        const QByteArray certificate = "cafile " + caFile().toUtf8() + "\ncertfile " +
                                       m_dir.filePath("server.crt").toUtf8() + "\nkeyfile " +
                                       m_dir.filePath("server.key").toUtf8() + '\n';
        // The same certificate on an address it does not name.
        config += certificate + QStringLiteral("listener %1 127.0.0.2\n").arg(m_port).toUtf8() +
                  certificate;
    }
    if (!writeFile(m_dir.filePath(QStringLiteral("mosquitto.conf")), config)) {
        m_why = QStringLiteral("cannot write the configuration");
        return false;
    }
    m_prepared = true;
    return true;
}

bool MosquittoBroker::start()
{
    if (!m_prepared && !prepare())
        return false;
    m_process.start(program(),
                    {QStringLiteral("-c"), m_dir.filePath(QStringLiteral("mosquitto.conf"))});
    if (!m_process.waitForStarted(5000)) {
        m_why = m_process.errorString();
        return false;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, quint16(m_port));
        if (probe.waitForConnected(100))
            return true;
        if (m_process.state() != QProcess::Running)
            break;
        QThread::msleep(50);
    }
    QFile log(m_dir.filePath(QStringLiteral("mosquitto.log")));
    log.open(QIODevice::ReadOnly);
    m_why = QStringLiteral("mosquitto does not listen on %1: %2")
                .arg(m_port)
                .arg(QString::fromLocal8Bit(log.readAll().right(400)));
    return false;
}

void MosquittoBroker::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

BrokerSubscriber::BrokerSubscriber(const MosquittoBroker &broker, const QStringList &filters,
                                   const QString &id, bool persistent)
    : m_client(QStringLiteral("tcp://127.0.0.1:%1").arg(broker.port()).toStdString(),
               id.toStdString())
{
    m_client.set_message_callback([this](mqtt::const_message_ptr m) {
        const auto at = std::chrono::steady_clock::now().time_since_epoch(); // CLOCK_MONOTONIC
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.push_back({QString::fromStdString(m->get_topic()),
                              QByteArray::fromStdString(m->get_payload_str()), m->is_retained(),
                              std::chrono::duration_cast<std::chrono::nanoseconds>(at).count()});
    });
    m_client.connect(mqtt::connect_options_builder().clean_session(!persistent).finalize())->wait();
    for (const QString &filter : filters)
        m_client.subscribe(filter.toStdString(), 1)->wait();
}

BrokerSubscriber::~BrokerSubscriber()
{
    try {
        // Bounded: with the broker just stopped, the library may not have
        // noticed yet, and the disconnect's token would never complete.
        m_client.disconnect()->wait_for(std::chrono::seconds(2));
    } catch (const mqtt::exception &) {
        // The broker is gone already.
    }
}

void BrokerSubscriber::publish(const QString &topic, const QByteArray &payload, bool retain)
{
    m_client
        .publish(topic.toStdString(), payload.constData(), std::size_t(payload.size()), 1, retain)
        ->wait();
}

std::vector<BrokerSubscriber::Received> BrokerSubscriber::received()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

std::vector<BrokerSubscriber::Received> BrokerSubscriber::on(const QString &topic)
{
    std::vector<Received> matching;
    for (const Received &r : received()) {
        if (r.topic == topic)
            matching.push_back(r);
    }
    return matching;
}

bool BrokerSubscriber::waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

bool BrokerSubscriber::waitFor(const QString &topic, const QByteArray &payload, int timeoutMs)
{
    const auto arrived = [&] {
        const auto got = on(topic);
        return std::any_of(got.begin(), got.end(),
                           [&](const auto &r) { return r.payload == payload; });
    };
    return waitUntil(arrived, timeoutMs);
}
