#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

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
    MosquittoBroker(const MosquittoBroker &) = delete;
    MosquittoBroker &operator=(const MosquittoBroker &) = delete;

    static QString program();
    static bool available();

    // Starts it and waits until it takes connections; false, with why(), when
    // it did not.
    bool start();
    void stop();
    int port() const { return m_port; }
    QString url() const;
    QString caFile() const { return m_dir.filePath(QStringLiteral("ca.crt")); }
    // A file holding the right password, for a gateway's configuration.
    QString passwordFile() const { return m_dir.filePath(QStringLiteral("password")); }
    QString folder() const { return m_dir.path(); }
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
