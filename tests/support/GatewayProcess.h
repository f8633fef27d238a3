#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QVariantMap>

class MosquittoBroker;

// The real kc4420-gateway on a configuration written for the test or bench,
// its messages in a file read back from there. It dies with its parent.
class GatewayProcess
{
public:
    // A configuration of these lines (each {"port", "stations", ...}) on the
    // broker, under prefix; more keys may be added before start().
    static QVariantMap config(const MosquittoBroker &broker, const QString &prefix,
                              const QVariantList &lines);

    explicit GatewayProcess(const QString &program);
    ~GatewayProcess();

    bool start(const QVariantMap &config);
    // SIGTERM; true once it has ended cleanly with status 0.
    bool terminate();
    void kill();
    qint64 pid() const { return m_process.processId(); }
    QString messages() const;

private:
    QString m_program;
    QTemporaryDir m_dir;
    QProcess m_process;
};
