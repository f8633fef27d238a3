#include "SimProcess.h"

#include <QElapsedTimer>
#include <QRegularExpression>

QString SimProcess::program()
{
    const QString fromEnvironment = qEnvironmentVariable("KC4420_SIM");
    return fromEnvironment.isEmpty() ? QStringLiteral(KC_SIM_DEFAULT_PATH) : fromEnvironment;
}

SimProcess::SimProcess(const QStringList &arguments)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(program(), QStringList(arguments) << QStringLiteral("--control"));
    if (!m_process.waitForStarted(5000))
        return;
    const QString first = readLine(5000);
    if (first.startsWith(QLatin1String("PTY ")))
        m_ptyPath = first.mid(4);
}

SimProcess::~SimProcess()
{
    if (m_process.state() != QProcess::NotRunning && quit() < 0) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
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
    while (!m_process.canReadLine()) {
        const qint64 left = timeoutMs - timer.elapsed();
        if (left <= 0 || !m_process.waitForReadyRead(static_cast<int>(left)))
            break;
    }
    if (!m_process.canReadLine())
        return {};
    return QString::fromUtf8(m_process.readLine()).trimmed();
}

SimProcess::Stats SimProcess::stats()
{
    command(QStringLiteral("stats"));
    Stats stats;
    for (QString line = readLine(); !line.isEmpty(); line = readLine()) {
        static const QRegularExpression pattern(
            QStringLiteral("^STATS requests=(\\d+) replies=(\\d+) ignored=(\\d+) uploads=(\\d+)$"));
        const auto match = pattern.match(line);
        if (!match.hasMatch())
            continue;
        stats.requests = match.captured(1).toLongLong();
        stats.replies = match.captured(2).toLongLong();
        stats.ignored = match.captured(3).toLongLong();
        stats.uploads = match.captured(4).toLongLong();
        break;
    }
    return stats;
}

int SimProcess::quit()
{
    command(QStringLiteral("quit"));
    if (!m_process.waitForFinished(5000))
        return -1;
    return m_process.exitCode();
}

QStringList SimProcess::remainingOutput()
{
    const QString text = QString::fromUtf8(m_process.readAllStandardOutput());
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
