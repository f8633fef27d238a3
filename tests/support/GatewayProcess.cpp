#include "GatewayProcess.h"

#include "MosquittoBroker.h"

#include <QFile>
#include <QJsonDocument>

#include <csignal>
#include <sys/prctl.h>

QVariantMap GatewayProcess::config(const MosquittoBroker &broker, const QString &prefix,
                                   const QVariantList &lines)
{
    return {{QStringLiteral("lines"), lines},
            {QStringLiteral("broker"), QVariantMap{{QStringLiteral("url"), broker.url()}}},
            {QStringLiteral("topic_prefix"), prefix}};
}

GatewayProcess::GatewayProcess(const QString &program) : m_program(program)
{
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("messages")));
    m_process.setStandardErrorFile(m_dir.filePath(QStringLiteral("messages")), QIODevice::Append);
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

GatewayProcess::~GatewayProcess()
{
    kill();
}

bool GatewayProcess::start(const QVariantMap &config)
{
    const QString path = m_dir.filePath(QStringLiteral("gateway.json"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument::fromVariant(config).toJson()) < 0)
        return false;
    file.close();
    m_process.start(m_program, {QStringLiteral("--config"), path});
    return m_process.waitForStarted(5000);
}

bool GatewayProcess::terminate()
{
    m_process.terminate();
    return m_process.waitForFinished(15000) && m_process.exitStatus() == QProcess::NormalExit &&
           m_process.exitCode() == 0;
}

void GatewayProcess::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
}

QString GatewayProcess::messages() const
{
    QFile file(m_dir.filePath(QStringLiteral("messages")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}
