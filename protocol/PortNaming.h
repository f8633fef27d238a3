#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace kc {

// The port list shows "COM1".."COM25"; these decide which device each entry opens.
constexpr int portCount = 25;

// A line behind the network: the RTU bytes over a TCP stream, as a transparent
// serial device server passes them ("tcp://"), or Modbus TCP ("modbus-tcp://").
enum class NetworkFraming { Rtu, ModbusTcp };

struct NetworkAddress
{
    NetworkFraming framing = NetworkFraming::Rtu;
    QString host; // lower case; an IPv6 address without its brackets
    int port = 0;

    // The one spelling of the address: "tcp://host:4001", "modbus-tcp://[::1]:502".
    QString url() const;
};

// "tcp://HOST:PORT" or "modbus-tcp://HOST:PORT", scheme and host in any case;
// nothing for any other text.
std::optional<NetworkAddress> networkAddress(const QString &text);

// The one spelling of a port a list keys it by: "COM3" in capitals, a network
// address as url() spells it, a device path as given, all without spaces.
QString portKey(const QString &port);

// Whether a port text is meant as a network address ("name://..."), however
// wrong the rest: a mistyped one is refused rather than opened as a device.
bool looksLikeNetworkAddress(const QString &text);

// A terminal device found on the system, by its name under /dev ("ttyUSB0").
struct TtyDevice
{
    QString name;
    // False for the ttyS entries the 8250 driver creates without a UART behind them.
    bool hasHardware = true;
};

using EnvLookup = std::function<QString(const QString &name)>;

// "KC4420_COM3": names a device path for entry COM3, overriding the search.
QString portOverrideVariable(int number);

// The device path entry "COM<number>" opens, or empty when nothing is mapped to it.
// The environment override wins; otherwise the number counts through the devices
// with hardware, USB adapters first (ttyUSB, then ttyACM), then the others.
QString choosePortDevice(int number, const EnvLookup &env, const QList<TtyDevice> &found);

// The devices as this system lists them, in no particular order.
QList<TtyDevice> findTtyDevices();

// choosePortDevice() on the real environment and devices; "COMn" itself on Windows.
QString portDevice(int number);

// portDevice() of every entry, "COM1" first, from a single look at the system.
QStringList portDevices();

// The network line a port names: an address, or "COMn" whose override variable
// holds one; nothing for a serial port.
std::optional<NetworkAddress> networkLine(const QString &port, const EnvLookup &env);
std::optional<NetworkAddress> networkLine(const QString &port);

// n of a "COMn" name (any case, blanks around), 0 for anything else.
int comNumber(const QString &port);

// The /dev/serial/by-id name of a device, which stays with the adapter wherever it
// is plugged in; empty when it has none.
QString lastingDeviceName(const QString &device);

// The device a port names, as one name: "COM3" through its mapping, a path
// through its symlinks, a network address in its one spelling. A device that
// is not there keeps the name given.
QString portIdentity(const QString &port);

} // namespace kc
