#include "SimProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QHash>
#include <QThread>

SimProcess::SimProcess(const QStringList &arguments)
{
    m_outputPath = m_dir.filePath(QStringLiteral("sim.out"));
    m_process.setStandardOutputFile(m_outputPath);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // $KC4420_SIM, else the one this build made.
    const QString program = qEnvironmentVariable("KC4420_SIM", QStringLiteral(KC_SIM_DEFAULT_PATH));
    m_process.start(program, QStringList(arguments) << QStringLiteral("--control"));
    if (!m_process.waitForStarted(5000))
        return;
    const QString first = readLine(5000);
    if (first.startsWith(QLatin1String("PTY ")))
        m_ptyPath = first.mid(4);
    else if (first.startsWith(QLatin1String("TCP ")))
        m_tcpPort = first.mid(4).toInt();
}

SimProcess::~SimProcess()
{
    quit();
}

QStringList SimProcess::outputLines() const
{
    QFile file(m_outputPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    lines.removeLast(); // empty after the last newline, or a line not yet complete
    return lines;
}

void SimProcess::command(const QString &line)
{
    m_process.write((line + QLatin1Char('\n')).toUtf8());
    m_process.waitForBytesWritten(1000);
}

QString SimProcess::readLine(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const QStringList lines = outputLines();
        if (lines.size() > m_linesRead)
            return lines[m_linesRead++];
        if (deadline.hasExpired())
            return {};
        QThread::msleep(5);
    }
}

QString SimProcess::ask(const QString &command, const QString &prefix)
{
    m_linesRead = outputLines().size();
    this->command(command);
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        const QString line = readLine(int(deadline.remainingTime()));
        if (line.startsWith(prefix))
            return line;
    }
    return {};
}

SimProcess::Stats SimProcess::stats()
{
    QHash<QString, long long> fields;
    const QString line = ask(QStringLiteral("stats"), QStringLiteral("STATS "));
    for (const QString &pair : line.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        fields[pair.section(QLatin1Char('='), 0, 0)] =
            pair.section(QLatin1Char('='), 1).toLongLong();
    const auto field = [&](const char *name) { return fields.value(QLatin1String(name), -1); };
    return {field("requests"), field("replies"),         field("ignored"),       field("uploads"),
            field("rx_bytes"), field("master_requests"), field("master_replies")};
}

std::vector<std::uint16_t> SimProcess::registers()
{
    std::vector<std::uint16_t> words;
    const QStringList fields =
        ask(QStringLiteral("regs"), QStringLiteral("REGS ")).split(QLatin1Char(' '));
    for (qsizetype i = 1; i < fields.size(); ++i)
        words.push_back(static_cast<std::uint16_t>(fields[i].toUInt()));
    return words;
}

std::vector<std::int64_t> SimProcess::sentStamps() const
{
    std::vector<std::int64_t> stamps;
    for (const QString &line : outputLines()) {
        if (line.startsWith(QLatin1String("SENT ")))
            stamps.push_back(line.mid(5).toLongLong());
    }
    return stamps;
}

int SimProcess::quit()
{
    if (m_process.state() == QProcess::NotRunning) {
        const bool stopped = m_process.error() != QProcess::FailedToStart &&
                             m_process.exitStatus() == QProcess::NormalExit;
        return stopped ? m_process.exitCode() : -1;
    }
    command(QStringLiteral("quit"));
    if (m_process.waitForFinished(5000))
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    m_process.kill();
    m_process.waitForFinished(2000);
    return -1;
}
