#include "protocol/PortNaming.h"

#include <QFileInfo>
#include <QHash>
#include <QtGlobal>

#include <gtest/gtest.h>

#ifdef Q_OS_LINUX
#include "link/PtyPair.h"
#endif

namespace {

struct NamingCase
{
    const char *what;
    int number;
    QHash<QString, QString> env;
    QList<kc::TtyDevice> found;
    QString expected;
};

void PrintTo(const NamingCase &c, std::ostream *os)
{
    *os << c.what;
}

class PortNamingTable : public ::testing::TestWithParam<NamingCase>
{
};

const kc::TtyDevice usb0{QStringLiteral("ttyUSB0"), true};

const NamingCase namingCases[] = {
    {"env override wins over a present device",
     1,
     {{QStringLiteral("KC4420_COM1"), QStringLiteral("/dev/pts/7")}},
     {usb0},
     QStringLiteral("/dev/pts/7")},
    {"env override may name any path, present or not",
     3,
     {{QStringLiteral("KC4420_COM3"), QStringLiteral("/tmp/ttyV0")}},
     {},
     QStringLiteral("/tmp/ttyV0")},
    {"empty env value is ignored",
     1,
     {{QStringLiteral("KC4420_COM1"), QStringLiteral("")}},
     {usb0},
     QStringLiteral("/dev/ttyUSB0")},
    {"override of another entry does not apply",
     1,
     {{QStringLiteral("KC4420_COM2"), QStringLiteral("/dev/pts/7")},
      {QStringLiteral("KC4420_COM11"), QStringLiteral("/dev/pts/8")}},
     {usb0},
     QStringLiteral("/dev/ttyUSB0")},
    {"numeric order: ttyUSB2 first",
     1,
     {},
     {{QStringLiteral("ttyUSB10"), true}, {QStringLiteral("ttyUSB2"), true}},
     QStringLiteral("/dev/ttyUSB2")},
    {"numeric order: ttyUSB10 second",
     2,
     {},
     {{QStringLiteral("ttyUSB10"), true}, {QStringLiteral("ttyUSB2"), true}},
     QStringLiteral("/dev/ttyUSB10")},
    {"ttyUSB before ttyACM",
     1,
     {},
     {{QStringLiteral("ttyS0"), true},
      {QStringLiteral("ttyACM0"), true},
      {QStringLiteral("ttyUSB1"), true}},
     QStringLiteral("/dev/ttyUSB1")},
    {"ttyACM before other ports",
     2,
     {},
     {{QStringLiteral("ttyS0"), true},
      {QStringLiteral("ttyACM0"), true},
      {QStringLiteral("ttyUSB1"), true}},
     QStringLiteral("/dev/ttyACM0")},
    {"other ports last",
     3,
     {},
     {{QStringLiteral("ttyS0"), true},
      {QStringLiteral("ttyACM0"), true},
      {QStringLiteral("ttyUSB1"), true}},
     QStringLiteral("/dev/ttyS0")},
    {"other ports in a stable order by family, then number",
     2,
     {},
     {{QStringLiteral("ttyS10"), true},
      {QStringLiteral("ttyS9"), true},
      {QStringLiteral("ttyAMA0"), true}},
     QStringLiteral("/dev/ttyS9")},
    {"number beyond the devices gives nothing", 2, {}, {usb0}, QString()},
    {"no devices at all gives nothing", 1, {}, {}, QString()},
    {"placeholder ttyS without hardware is skipped",
     2,
     {},
     {{QStringLiteral("ttyS0"), true},
      {QStringLiteral("ttyS1"), false},
      {QStringLiteral("ttyS2"), true}},
     QStringLiteral("/dev/ttyS2")},
    {"placeholders do not count towards the list",
     3,
     {},
     {{QStringLiteral("ttyS0"), true},
      {QStringLiteral("ttyS1"), false},
      {QStringLiteral("ttyS2"), true}},
     QString()},
    {"a device found twice counts once",
     2,
     {},
     {usb0, usb0, {QStringLiteral("ttyACM0"), true}},
     QStringLiteral("/dev/ttyACM0")},
    {"entry 0 is no port",
     0,
     {{QStringLiteral("KC4420_COM0"), QStringLiteral("/dev/pts/7")}},
     {usb0},
     QString()},
    {"entry 26 is past the list",
     26,
     {{QStringLiteral("KC4420_COM26"), QStringLiteral("/dev/pts/7")}},
     {usb0},
     QString()},
    {"entry 25 still honours its override",
     25,
     {{QStringLiteral("KC4420_COM25"), QStringLiteral("/dev/pts/7")}},
     {},
     QStringLiteral("/dev/pts/7")},
};

TEST_P(PortNamingTable, choosesTheDevice)
{
    const NamingCase &c = GetParam();
    const auto env = [&c](const QString &name) { return c.env.value(name); };
    EXPECT_EQ(kc::choosePortDevice(c.number, env, c.found).toStdString(), c.expected.toStdString());
}

INSTANTIATE_TEST_SUITE_P(Cases, PortNamingTable, ::testing::ValuesIn(namingCases));

TEST(PortNaming, worksWithoutAnEnvironmentLookup)
{
    EXPECT_EQ(kc::choosePortDevice(1, nullptr, {usb0}), QStringLiteral("/dev/ttyUSB0"));
}

#ifndef Q_OS_WIN
TEST(PortNaming, portDeviceReadsTheProcessEnvironment)
{
    qputenv("KC4420_COM17", "/tmp/kc-link-test-port");
    EXPECT_EQ(kc::portDevice(17), QStringLiteral("/tmp/kc-link-test-port"));
    qunsetenv("KC4420_COM17");
    EXPECT_NE(kc::portDevice(17), QStringLiteral("/tmp/kc-link-test-port"));
}

// The port list's tooltips come from one scan; each must match what opening
// that entry would use.
TEST(PortNaming, allEntriesAtOnceMatchEachEntry)
{
    qputenv("KC4420_COM3", "/tmp/kc-link-test-port3");
    const QStringList all = kc::portDevices();
    ASSERT_EQ(all.size(), kc::portCount);
    EXPECT_EQ(all.at(2), QStringLiteral("/tmp/kc-link-test-port3"));
    for (int n = 1; n <= kc::portCount; ++n)
        EXPECT_EQ(all.at(n - 1), kc::portDevice(n)) << n;
    qunsetenv("KC4420_COM3");
}

TEST(PortNaming, everyListedDeviceExists)
{
    for (const kc::TtyDevice &device : kc::findTtyDevices())
        EXPECT_TRUE(QFileInfo::exists(QStringLiteral("/dev/") + device.name))
            << device.name.toStdString();
}
#endif

#ifdef Q_OS_LINUX
// Pseudo-terminals reach the list only through an override; the search never offers them.
TEST(PortNaming, searchSkipsPseudoTerminals)
{
    PtyPair pty;
    ASSERT_TRUE(pty.isValid());
    for (const kc::TtyDevice &device : kc::findTtyDevices()) {
        EXPECT_FALSE(device.name.startsWith(QLatin1String("pts"))) << device.name.toStdString();
        EXPECT_NE(device.name, QStringLiteral("ptmx"));
    }
}
#endif

} // namespace
