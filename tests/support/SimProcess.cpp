#include "SimProcess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <utility>

namespace {

constexpr int pollMs = 5;

} // namespace

QString SimProcess::program()
{
    const QString fromEnvironment = qEnvironmentVariable("KC4420_SIM");
    return fromEnvironment.isEmpty() ? QStringLiteral(KC_SIM_DEFAULT_PATH) : fromEnvironment;
}

SimProcess::SimProcess(const QStringList &arguments)
{
    m_outputPath = m_dir.filePath(QStringLiteral("sim.out"));
    m_process.setStandardOutputFile(m_outputPath);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(program(), QStringList(arguments) << QStringLiteral("--control"));
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
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        const QStringList lines = outputLines();
        if (lines.size() > m_linesRead)
            return lines[m_linesRead++];
        if (timer.elapsed() >= timeoutMs)
            return {};
        QThread::msleep(pollMs);
    }
}

QString SimProcess::ask(const QString &command, const QString &prefix)
{
    const auto answerAfter = [&](qsizetype from) {
        const QStringList lines = outputLines();
        for (qsizetype i = from; i < lines.size(); ++i) {
            if (lines[i].startsWith(prefix)) {
                m_linesRead = i + 1;
                return lines[i];
            }
        }
        return QString();
    };
    const qsizetype before = outputLines().size();
    this->command(command);
    for (int waited = 0; waited < 5000; waited += pollMs) {
        const QString answer = answerAfter(before);
        if (!answer.isEmpty())
            return answer;
        QThread::msleep(pollMs);
    }
    return {};
}

SimProcess::Stats SimProcess::stats()
{
    Stats stats;
    const std::pair<const char *, long long *> fields[] = {
        {"requests", &stats.requests},
        {"replies", &stats.replies},
        {"ignored", &stats.ignored},
        {"uploads", &stats.uploads},
        {"rx_bytes", &stats.rxBytes},
        {"master_requests", &stats.masterRequests},
        {"master_replies", &stats.masterReplies},
    };
    const QString line = ask(QStringLiteral("stats"), QStringLiteral("STATS "));
    for (const QString &pair : line.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString key = pair.section(QLatin1Char('='), 0, 0);
        for (const auto &[name, field] : fields) {
            if (key == QLatin1String(name))
                *field = pair.section(QLatin1Char('='), 1).toLongLong();
        }
    }
    return stats;
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
