#include "protocol/PortNaming.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QSet>
#include <QUrl>

#include <algorithm>
#include <tuple>

namespace kc {

namespace {

struct SortKey
{
    int rank;
    QString stem;
    qint64 index; // -1 without a trailing number, so "ttyX" sorts before "ttyX0"
    QString name;

    bool operator<(const SortKey &other) const
    {
        return std::tie(rank, stem, index, name) <
               std::tie(other.rank, other.stem, other.index, other.name);
    }
};

// Numeric, not textual, order within a family: ttyUSB2 comes before ttyUSB10.
SortKey sortKey(const QString &name)
{
    qsizetype digitsAt = name.size();
    while (digitsAt > 0 && name.at(digitsAt - 1).isDigit())
        --digitsAt;
    const QString stem = name.left(digitsAt);
    bool ok = false;
    const qint64 index = name.mid(digitsAt).toLongLong(&ok);
    int rank = 2;
    if (stem == QLatin1String("ttyUSB"))
        rank = 0;
    else if (stem == QLatin1String("ttyACM"))
        rank = 1;
    return {rank, stem, ok ? index : -1, name};
}

#ifdef Q_OS_LINUX
QList<TtyDevice> scanSysfs()
{
    QList<TtyDevice> found;
    const QDir classDir(QStringLiteral("/sys/class/tty"));
    const QStringList names = classDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString &name : names) {
        const QString base = classDir.filePath(name);
        // Virtual terminals, pseudo-terminals and the console have no device behind them.
        if (!QFileInfo::exists(base + QStringLiteral("/device")))
            continue;
        if (!QFileInfo::exists(QStringLiteral("/dev/") + name))
            continue;
        TtyDevice device{name, true};
        // The 8250 driver registers ttyS0..ttySn whether or not a UART answers;
        // an unprobed one reports port type 0 (unknown) and cannot carry data.
        QFile type(base + QStringLiteral("/type"));
        if (type.open(QIODevice::ReadOnly))
            device.hasHardware = type.readAll().trimmed().toInt() != 0;
        found << device;
    }
    // USB adapters appear in /dev even where /sys is not mounted.
    const QStringList usb = QDir(QStringLiteral("/dev"))
                                .entryList({QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")},
                                           QDir::System | QDir::Files);
    for (const QString &name : usb)
        found << TtyDevice{name, true};
    return found;
}
#endif

} // namespace

namespace {
[[maybe_unused]] EnvLookup environment()
{
    return [](const QString &name) { return qEnvironmentVariable(name.toLocal8Bit()); };
}
} // namespace

QString NetworkAddress::url() const
{
    const QString scheme =
        framing == NetworkFraming::Rtu ? QStringLiteral("tcp") : QStringLiteral("modbus-tcp");
    const QString shownHost =
        host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return QStringLiteral("%1://%2:%3").arg(scheme, shownHost).arg(port);
}

std::optional<NetworkAddress> networkAddress(const QString &text)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("tcp") && scheme != QLatin1String("modbus-tcp")))
        return std::nullopt;
    // Nothing but host and port: anything more is a mistake, not a setting.
    const bool bare = url.userInfo().isEmpty() && !url.hasQuery() && !url.hasFragment() &&
                      (url.path().isEmpty() || url.path() == QLatin1String("/"));
    if (!bare || url.host().isEmpty() || url.port() < 1)
        return std::nullopt;
    return NetworkAddress{scheme == QLatin1String("tcp") ? NetworkFraming::Rtu
                                                         : NetworkFraming::ModbusTcp,
                          url.host().toLower(), url.port()};
}

QString portKey(const QString &port)
{
    const QString trimmed = port.trimmed();
    if (const auto address = networkAddress(trimmed))
        return address->url();
    return trimmed.startsWith(QLatin1String("com"), Qt::CaseInsensitive) ? trimmed.toUpper()
                                                                         : trimmed;
}

bool looksLikeNetworkAddress(const QString &text)
{
    return text.contains(QLatin1String("://"));
}

std::optional<NetworkAddress> networkLine(const QString &port, const EnvLookup &env)
{
    const int n = comNumber(port);
    return networkAddress(n > 0 && env ? env(portOverrideVariable(n)) : port);
}

std::optional<NetworkAddress> networkLine(const QString &port)
{
    return networkLine(port, environment());
}

QString portOverrideVariable(int number)
{
    return QStringLiteral("KC4420_COM%1").arg(number);
}

QString choosePortDevice(int number, const EnvLookup &env, const QList<TtyDevice> &found)
{
    if (number < 1 || number > portCount)
        return {};
    if (env) {
        const QString overridePath = env(portOverrideVariable(number));
        if (!overridePath.isEmpty())
            return overridePath;
    }

    QList<SortKey> present;
    QSet<QString> seen;
    for (const TtyDevice &device : found) {
        if (!device.hasHardware || device.name.isEmpty() || seen.contains(device.name))
            continue;
        seen.insert(device.name);
        present << sortKey(device.name);
    }
    std::sort(present.begin(), present.end());
    if (number > present.size())
        return {};
    return QStringLiteral("/dev/") + present.at(number - 1).name;
}

QList<TtyDevice> findTtyDevices()
{
#ifdef Q_OS_LINUX
    if (QFileInfo::exists(QStringLiteral("/sys/class/tty")))
        return scanSysfs();
#endif
    QList<TtyDevice> found;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        found << TtyDevice{info.portName(), true};
    return found;
}

QString portDevice(int number)
{
#ifdef Q_OS_WIN
    if (number < 1 || number > portCount)
        return {};
    return QStringLiteral("COM%1").arg(number);
#else
    return choosePortDevice(number, environment(), findTtyDevices());
#endif
}

QStringList portDevices()
{
    QStringList devices;
#ifdef Q_OS_WIN
    for (int n = 1; n <= portCount; ++n)
        devices << QStringLiteral("COM%1").arg(n);
#else
    // One scan of the system's devices serves every entry.
    const QList<TtyDevice> found = findTtyDevices();
    const EnvLookup env = environment();
    for (int n = 1; n <= portCount; ++n)
        devices << choosePortDevice(n, env, found);
#endif
    return devices;
}

int comNumber(const QString &port)
{
    static const QRegularExpression com(QStringLiteral("^\\s*COM(\\d{1,3})\\s*$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = com.match(port);
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

QString lastingDeviceName(const QString &device)
{
    const QString target = QFileInfo(device).canonicalFilePath();
    if (target.isEmpty())
        return {};
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo &alias : byId.entryInfoList(QDir::System | QDir::Files)) {
        if (alias.canonicalFilePath() == target)
            return alias.absoluteFilePath();
    }
    return {};
}

QString portIdentity(const QString &port)
{
    if (const auto address = networkLine(port))
        return address->url();
    const int n = comNumber(port);
    QString path = n > 0 ? portDevice(n) : port.trimmed();
    // An entry with no device behind it is still a port of its own.
    if (path.isEmpty())
        path = port.trimmed().toUpper();
    const QString target = QFileInfo(path).canonicalFilePath();
    return target.isEmpty() ? path : target;
}

} // namespace kc
