#include "BenchSupport.h"

#include "WireLimit.h"

#include <QFile>

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

QStringList pacedLineArguments(int baud)
{
    return {QStringLiteral("--pace"),        QString::number(baud),
            QStringLiteral("--frame-gap"),   num(frameSilenceMs(baud), 3),
            QStringLiteral("--reply-delay"), num(pacedLineReplyDelayMs(baud), 3)};
}

} // namespace kcbench
