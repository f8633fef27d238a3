#include "BenchSupport.h"

#include <QFile>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

namespace kcbench {

std::int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::int64_t residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() < 2)
        return 0;
    return fields[1].toLongLong() * sysconf(_SC_PAGESIZE);
}

std::int64_t heapBytes()
{
    const struct mallinfo2 info = mallinfo2();
    return std::int64_t(info.uordblks + info.hblkhd);
}

Spread spread(std::vector<double> samples)
{
    Spread s;
    if (samples.empty())
        return s;
    std::sort(samples.begin(), samples.end());
    const auto rank = [&](double p) {
        const auto index = std::size_t(std::ceil(p * double(samples.size()))) - 1;
        return samples[std::min(index, samples.size() - 1)];
    };
    s.p50 = rank(0.50);
    s.p99 = rank(0.99);
    s.max = samples.back();
    return s;
}

std::vector<double> stampLatenciesMs(const std::vector<std::int64_t> &stamps,
                                     const std::vector<std::int64_t> &events, std::int64_t windowNs)
{
    std::vector<std::int64_t> sorted = stamps;
    std::sort(sorted.begin(), sorted.end());
    std::vector<double> latencies;
    std::size_t next = 0;   // first stamp not yet looked at
    std::int64_t used = -1; // the last stamp paired
    for (const std::int64_t event : events) {
        while (next < sorted.size() && sorted[next] <= event)
            ++next;
        if (next == 0)
            continue;
        const std::int64_t stamp = sorted[next - 1];
        if (stamp == used || event - stamp > windowNs)
            continue;
        used = stamp;
        latencies.push_back(double(event - stamp) / 1e6);
    }
    return latencies;
}

QString num(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

void printLine(const QString &line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

QString SimRun::program()
{
    const QString fromEnvironment = qEnvironmentVariable("KC4420_SIM");
    return fromEnvironment.isEmpty() ? QStringLiteral(KC_SIM_PATH) : fromEnvironment;
}

SimRun::SimRun(const QStringList &arguments)
{
    m_outputPath = m_dir.filePath(QStringLiteral("sim.out"));
    m_process.setStandardOutputFile(m_outputPath);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(program(), QStringList(arguments) << QStringLiteral("--control"));
    if (!m_process.waitForStarted(5000))
        return;
    for (int waited = 0; waited < 5000 && m_pty.isEmpty(); waited += 10) {
        for (const QString &line : outputLines()) {
            if (line.startsWith(QLatin1String("PTY ")))
                m_pty = line.mid(4);
        }
        if (m_pty.isEmpty())
            QThread::msleep(10);
    }
}

SimRun::~SimRun()
{
    quit();
}

QStringList SimRun::outputLines() const
{
    QFile file(m_outputPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString SimRun::ask(const QString &command, const QString &prefix)
{
    const auto matching = [&] {
        QStringList found;
        for (const QString &line : outputLines()) {
            if (line.startsWith(prefix))
                found << line;
        }
        return found;
    };
    const qsizetype before = matching().size();
    m_process.write((command + QLatin1Char('\n')).toUtf8());
    m_process.waitForBytesWritten(1000);
    for (int waited = 0; waited < 5000; waited += 5) {
        const QStringList found = matching();
        if (found.size() > before)
            return found[before];
        QThread::msleep(5);
    }
    return {};
}

SimRun::Stats SimRun::stats()
{
    Stats stats;
    const QString line = ask(QStringLiteral("stats"), QStringLiteral("STATS "));
    for (const QString &pair : line.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString key = pair.section(QLatin1Char('='), 0, 0);
        const long long value = pair.section(QLatin1Char('='), 1).toLongLong();
        if (key == QLatin1String("requests"))
            stats.requests = value;
        else if (key == QLatin1String("replies"))
            stats.replies = value;
        else if (key == QLatin1String("ignored"))
            stats.ignored = value;
        else if (key == QLatin1String("uploads"))
            stats.uploads = value;
    }
    return stats;
}

std::vector<std::uint16_t> SimRun::registers()
{
    std::vector<std::uint16_t> words;
    const QStringList fields =
        ask(QStringLiteral("regs"), QStringLiteral("REGS ")).split(QLatin1Char(' '));
    for (qsizetype i = 1; i < fields.size(); ++i)
        words.push_back(std::uint16_t(fields[i].toUInt()));
    return words;
}

std::vector<std::int64_t> SimRun::sentStamps() const
{
    std::vector<std::int64_t> stamps;
    for (const QString &line : outputLines()) {
        if (line.startsWith(QLatin1String("SENT ")))
            stamps.push_back(line.mid(5).toLongLong());
    }
    return stamps;
}

void SimRun::quit()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.write("quit\n");
    m_process.waitForBytesWritten(1000);
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}

} // namespace kcbench
