#include "e2e/E2eSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <fcntl.h>
#include <unistd.h>

bool pumpUntil(const std::function<bool()> &done, int deadlineMs)
{
    QDeadlineTimer deadline(deadlineMs);
    // Wakes the loop even when nothing else happens, so done() is looked at often.
    QTimer wake;
    wake.start(5);
    for (;;) {
        // Asked once per turn: a condition may consume what it looks at.
        if (done())
            return true;
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

Probe::Probe(int intervalMs) : m_interval(intervalMs)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] { onTimeout(); });
    m_clock.start();
    m_timer.start(intervalMs);
}

void Probe::onTimeout()
{
    const qint64 now = m_clock.elapsed();
    if (m_last >= 0) {
        const qint64 late = std::max<qint64>(0, now - m_last - m_interval);
        m_maxLateness = std::max(m_maxLateness, late);
        m_lateness.push_back(late);
    }
    m_last = now;
    ++m_fired;
    if (onFired)
        onFired();
}

qint64 Probe::latenessPercentileMs(double fraction) const
{
    if (m_lateness.empty())
        return 0;
    std::vector<qint64> sorted(m_lateness);
    std::sort(sorted.begin(), sorted.end());
    const auto at = std::min(sorted.size() - 1, std::size_t(fraction * double(sorted.size())));
    return sorted[at];
}

void Probe::reset()
{
    m_fired = 0;
    m_last = -1;
    m_maxLateness = 0;
    m_lateness.clear();
}

bool Probe::pumpFirings(int n, int deadlineMs)
{
    const int target = m_fired + n;
    return pumpUntil([&] { return m_fired >= target; }, deadlineMs);
}

qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() < 2)
        return -1;
    return fields[1].toLongLong() * sysconf(_SC_PAGESIZE);
}

std::uint16_t modbusCrc(const QByteArray &bytes)
{
    std::uint16_t crc = 0xFFFF;
    for (const char c : bytes) {
        crc ^= std::uint8_t(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? std::uint16_t((crc >> 1) ^ 0xA001) : std::uint16_t(crc >> 1);
    }
    return crc;
}

QByteArray withCrc(QByteArray body)
{
    const std::uint16_t crc = modbusCrc(body);
    body.append(char(crc & 0xFF));
    body.append(char(crc >> 8));
    return body;
}

QByteArray readReply(int station, const std::vector<std::uint16_t> &words)
{
    QByteArray body;
    body.append(char(station)).append(char(0x03)).append(char(2 * words.size()));
    for (const std::uint16_t w : words)
        body.append(char(w >> 8)).append(char(w & 0xFF));
    return withCrc(body);
}

QString receivedText(const QByteArray &bytes)
{
    QString text;
    for (const char b : bytes)
        text += QStringLiteral(" %1").arg(std::uint8_t(b), 2, 16, QLatin1Char('0')).toUpper();
    return text;
}

QString sentText(const QByteArray &frame)
{
    QString text;
    for (const char b : frame)
        text += QStringLiteral("%1 ").arg(std::uint8_t(b), 2, 16, QLatin1Char('0')).toUpper();
    return text;
}

namespace FixedModule {

const std::vector<Row> &rows()
{
    // 23.45 degrees is above the 20.00 upper limit set here, so the alarm reads 1.
    static const std::vector<Row> table = {
        {2345, "23.45"}, {5678, "56.78"},   {1, "1"},        {65435, "-1.00"}, {250, "2.50"},
        {2000, "20.00"}, {64535, "-10.00"}, {8800, "88.00"}, {1200, "12.00"},  {3, "3"},
        {4, "4"},        {7, "7"},          {9600, "9600"},  {2, "2"},         {2, "2"},
    };
    return table;
}

std::vector<std::uint16_t> words()
{
    std::vector<std::uint16_t> w;
    for (const Row &r : rows())
        w.push_back(r.word);
    return w;
}

QStringList arguments()
{
    QStringList args{QStringLiteral("--fixed")};
    for (int i = 0; i < int(rows().size()); ++i) {
        if (i == 2)
            continue; // the alarm state is not settable; it follows the others
        args << QStringLiteral("--set") << QStringLiteral("%1=%2").arg(i).arg(rows()[i].word);
    }
    return args;
}

bool onlySentValues(const QStringList &boxes)
{
    if (boxes.size() != int(rows().size()))
        return false;
    for (int i = 0; i < boxes.size(); ++i) {
        if (boxes[i] != QLatin1String("0") && boxes[i] != QLatin1String(rows()[i].shown))
            return false;
    }
    return true;
}

} // namespace FixedModule

std::vector<std::uint16_t> simRegisters(SimProcess &sim)
{
    sim.command(QStringLiteral("regs"));
    for (QString line = sim.readLine(); !line.isEmpty(); line = sim.readLine()) {
        if (!line.startsWith(QLatin1String("REGS ")))
            continue;
        std::vector<std::uint16_t> words;
        for (const QString &field : line.mid(5).split(QLatin1Char(' '), Qt::SkipEmptyParts))
            words.push_back(std::uint16_t(field.toUInt()));
        return words;
    }
    return {};
}

QString nextPtyLine(SimProcess &sim)
{
    for (QString line = sim.readLine(); !line.isEmpty(); line = sim.readLine()) {
        if (line.startsWith(QLatin1String("PTY ")))
            return line.mid(4);
    }
    return {};
}

std::optional<termios> heldLineSettings(const QString &device)
{
    const QString target = QFileInfo(device).canonicalFilePath();
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &name : fds.entryList(QDir::Files | QDir::System)) {
        if (QFileInfo(fds.filePath(name)).symLinkTarget() != target)
            continue;
        termios settings{};
        if (::tcgetattr(name.toInt(), &settings) == 0)
            return settings;
    }
    return std::nullopt;
}
