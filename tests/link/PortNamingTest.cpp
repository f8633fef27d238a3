#include "protocol/PortNaming.h"

#include <QFileInfo>
#include <QHash>

#include <gtest/gtest.h>

namespace {

// "ttyS0 -ttyS1": names as found, "-" marking a ttyS entry without a UART behind it.
QList<kc::TtyDevice> devices(const char *names)
{
    QList<kc::TtyDevice> found;
    for (const QString &name : QString::fromLatin1(names).split(' ', Qt::SkipEmptyParts))
        found << kc::TtyDevice{name.startsWith('-') ? name.mid(1) : name, !name.startsWith('-')};
    return found;
}

TEST(PortNaming, entriesCountThroughDevicesWithHardwareUsbFirst)
{
    const struct
    {
        const char *found, *entries;
    } cases[] = {
        {"ttyUSB10 ttyUSB2", "ttyUSB2 ttyUSB10"},           // numeric, not textual, order
        {"ttyS0 ttyACM0 ttyUSB1", "ttyUSB1 ttyACM0 ttyS0"}, // ttyUSB, ttyACM, then the rest
        {"ttyS10 ttyS9 ttyAMA0", "ttyAMA0 ttyS9 ttyS10"},   // the rest by family, then number
        {"ttyS0 -ttyS1 ttyS2", "ttyS0 ttyS2"},
        {"ttyUSB0 ttyUSB0 ttyACM0", "ttyUSB0 ttyACM0"}, // found twice, counted once
    };
    for (const auto &c : cases) {
        const QStringList entries = QString::fromLatin1(c.entries).split(' ');
        // One entry past the last maps to nothing.
        for (int n = 1; n <= entries.size() + 1; ++n)
            EXPECT_EQ(kc::choosePortDevice(n, {}, devices(c.found)).toStdString(),
                      n <= entries.size() ? "/dev/" + entries[n - 1].toStdString() : "")
                << c.found << ", entry " << n;
    }
}

// An empty override is no override; entries 0 and 26 are off the list whatever the environment.
TEST(PortNaming, overrideWinsForItsOwnEntryOnly)
{
    const QHash<QString, QString> env{{"KC4420_COM1", "/dev/pts/7"},
                                      {"KC4420_COM11", "/dev/pts/8"},
                                      {"KC4420_COM3", ""},
                                      {"KC4420_COM0", "/dev/pts/9"},
                                      {"KC4420_COM26", "/dev/pts/9"}};
    const std::pair<int, const char *> cases[] = {
        {1, "/dev/pts/7"}, {11, "/dev/pts/8"}, {2, "/dev/ttyUSB1"}, {3, "/dev/ttyUSB2"}, {0, ""},
        {26, ""}};
    const auto lookup = [&](const QString &name) { return env.value(name); };
    for (const auto &[number, path] : cases)
        EXPECT_EQ(
            kc::choosePortDevice(number, lookup, devices("ttyUSB0 ttyUSB1 ttyUSB2")).toStdString(),
            path)
            << "entry " << number;

    // The port list's single scan reads the environment as opening an entry does.
    qputenv("KC4420_COM3", "/tmp/kc-link-test-port3");
    EXPECT_EQ(kc::portDevice(3).toStdString(), "/tmp/kc-link-test-port3");
    EXPECT_EQ(kc::portDevices().value(2).toStdString(), "/tmp/kc-link-test-port3");
    qunsetenv("KC4420_COM3");
}

// A network address has one spelling whatever case it was typed in, so claims
// see one port; anything more or less than scheme, host and port is none. A
// COMn names one through its override.
TEST(PortNaming, networkAddressesHaveOneSpelling)
{
    EXPECT_EQ(kc::networkAddress(" TCP://Plc-7.Local:4001/ ")->url(), "tcp://plc-7.local:4001");
    EXPECT_EQ(kc::networkAddress("modbus-tcp://[::1]:502")->url(), "modbus-tcp://[::1]:502");
    for (const char *text : {"modbus-tcp://10.0.0.5", "tcp://host:0", "udp://host:502",
                             "tcp://user@host:502", "tcp://host:502/2", "COM3"})
        EXPECT_FALSE(kc::networkAddress(text)) << text;
    qputenv("KC4420_COM3", "Modbus-TCP://PLC:502");
    EXPECT_EQ(kc::portIdentity(" com3").toStdString(), "modbus-tcp://plc:502");
    EXPECT_EQ(kc::portIdentity("modbus-tcp://plc:502/"), kc::portIdentity("COM3"));
    EXPECT_FALSE(kc::networkLine("COM4"));
    qunsetenv("KC4420_COM3");
}

// The search lists devices that exist, and no console or pseudo-terminal:
// those reach the list through an override alone.
TEST(PortNaming, searchListsRealDevicesOnly)
{
    for (const kc::TtyDevice &device : kc::findTtyDevices()) {
        const QString &name = device.name;
        EXPECT_TRUE(QFileInfo::exists("/dev/" + name)) << name.toStdString();
        EXPECT_FALSE(name.startsWith("pts") || name == "ptmx" || name == "tty" || name == "console")
            << name.toStdString();
    }
}

} // namespace
