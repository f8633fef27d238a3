#include "e2e/E2eSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <unistd.h>

bool pumpUntil(const std::function<bool()> &done, int deadlineMs)
{
    QDeadlineTimer deadline(deadlineMs);
    // Wakes the loop even when nothing else happens, so done() is looked at often.
    QTimer wake;
    wake.start(5);
    // done() is asked once per turn: a condition may consume what it looks at.
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

bool pumpTicks(int n)
{
    QTimer timer;
    int fired = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++fired; });
    timer.start(10);
    return pumpUntil([&] { return fired >= n; }, 30000);
}

qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    const QList<QByteArray> fields =
        statm.open(QIODevice::ReadOnly) ? statm.readAll().split(' ') : QList<QByteArray>();
    return fields.size() < 2 ? -1 : fields[1].toLongLong() * sysconf(_SC_PAGESIZE);
}

QByteArray withCrc(QByteArray body)
{
    std::uint16_t crc = 0xFFFF;
    for (const char c : body) {
        crc ^= std::uint8_t(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? std::uint16_t((crc >> 1) ^ 0xA001) : std::uint16_t(crc >> 1);
    }
    return body.append(char(crc & 0xFF)).append(char(crc >> 8));
}

QByteArray readReply(int station, const std::vector<std::uint16_t> &words)
{
    QByteArray body;
    body.append(char(station)).append(char(0x03)).append(char(2 * words.size()));
    for (const std::uint16_t w : words)
        body.append(char(w >> 8)).append(char(w & 0xFF));
    return withCrc(body);
}

QByteArray writeFrame(int station, int address, std::uint16_t word)
{
    const char body[] = {char(station),   0x06,      char(address >> 8), char(address),
                         char(word >> 8), char(word)};
    return withCrc(QByteArray(body, sizeof body));
}

QString sentText(const QByteArray &frame)
{
    return QString::fromLatin1(frame.toHex(' ').toUpper()) + QLatin1Char(' ');
}

QString receivedText(const QByteArray &bytes)
{
    return QLatin1Char(' ') + QString::fromLatin1(bytes.toHex(' ').toUpper());
}

namespace FixedModule {

QStringList arguments()
{
    QStringList args{QStringLiteral("--fixed")};
    for (int i = 0; i < int(words.size()); ++i) {
        if (i != 2) // the alarm state is not settable; it follows the others
            args << QStringLiteral("--set") << QStringLiteral("%1=%2").arg(i).arg(words[i]);
    }
    return args;
}

} // namespace FixedModule

DecodeWatch::DecodeWatch(LiveWindow &w)
{
    const QString reply = receivedText(readReply(1, FixedModule::words));
    w.afterEvent = [this, &w, reply](int code) {
        // A box not yet filled shows the initial "0".
        const QStringList boxes = w.valueTexts();
        for (int i = 0; i < boxes.size(); ++i)
            foreignValues += boxes[i] != QLatin1String("0") && boxes[i] != FixedModule::shown[i];
        if (code == kc::CommEventCode::Receive) {
            const QString state = w.text(QStringLiteral("txtState"));
            const bool green = w.lamp() == QLatin1String("imgConnected");
            // Two replies in one delivery decode as the first.
            decoded += green && state.startsWith(reply);
            exact += green && state == reply;
            rejected += w.lamp() == QLatin1String("imgNotConnected");
        }
        if (then)
            then(code);
    };
}
