#include "protocol/QtSerialLink.h"

#include "support/Pty.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <termios.h>

namespace {

// Plays the engine: counts each wake-up and, on one, takes everything.
struct Reader
{
    explicit Reader(kc::QtSerialLink &link)
    {
        QObject::connect(&link, &kc::Link::arrived, &link,
                         [this, &link] { deliveries << link.readAll(); });
        QObject::connect(&link, &kc::Link::lost, &link, [this] { ++lost; });
    }
    QList<QByteArray> deliveries;
    int lost = 0;
};

// The port carries a request to the device.
void expectRequestArrives(kc::QtSerialLink &link, const Pty &device)
{
    const QByteArray request = QByteArray::fromHex("010300000002c40b");
    link.write(request);
    QByteArray got;
    pumpUntil([&] {
        char c[8];
        got.append(c, qMax<ssize_t>(::read(device.far, c, size_t(8 - got.size())), 0));
        return got.size() == 8;
    });
    EXPECT_EQ(got.toHex(), request.toHex());
}

// However the reply is cut, no wake-up comes before the wake count is
// buffered and exactly one comes once it is, carrying every byte.
TEST(QtSerialLink, OneWakeUpOnceTheWakeCountIsBuffered)
{
    Pty device;
    kc::QtSerialLink link(device.path);
    Reader reader(link);
    ASSERT_TRUE(link.open());
    // Stale bytes dropped before the first reply must not reach it.
    link.setWakeAt(100);
    ASSERT_EQ(::write(device.far, "stale", 5), 5);
    ASSERT_TRUE(pumpUntil([&] { return link.buffered() == 5; }));
    link.discardInput();
    const struct
    {
        int wakeAt;
        QList<int> pieces; // each buffered before the next is written
    } cases[] = {{9, {9}}, {9, {3, 3, 3}}, {9, {8, 1}}, {6, {8}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.wakeAt << " in " << c.pieces.size() << " pieces");
        reader.deliveries.clear();
        link.setWakeAt(c.wakeAt);
        QByteArray all;
        for (int size : c.pieces) {
            all += QByteArray(size, char('0' + all.size()));
            ASSERT_EQ(::write(device.far, all.constData() + all.size() - size, size), size);
            if (all.size() >= c.wakeAt) {
                ASSERT_TRUE(pumpUntil([&] { return !reader.deliveries.isEmpty(); }));
            } else {
                ASSERT_TRUE(pumpUntil([&] { return link.buffered() == all.size(); }));
                EXPECT_TRUE(reader.deliveries.isEmpty()) << "after " << all.size() << " bytes";
            }
        }
        pumpFor(30);
        ASSERT_EQ(reader.deliveries.size(), 1);
        EXPECT_EQ(reader.deliveries[0], all);
    }
}

// The far end going away is reported once and closes the port. (Opening it
// again under the same name: the window's end-to-end lost-line test.)
TEST(QtSerialLink, FarEndGoneIsReportedOnceAndClosesThePort)
{
    Pty device;
    kc::QtSerialLink link(device.path);
    Reader reader(link);
    ASSERT_TRUE(link.open());
    expectRequestArrives(link, device);
    device.unplug();
    ASSERT_TRUE(pumpUntil([&] { return reader.lost > 0; }));
    pumpFor(100); // a storm of repeated errors would show up here
    EXPECT_EQ(reader.lost, 1);
    EXPECT_FALSE(link.isOpen());
}

// A device that floods the line while nobody reads does not grow memory
// without bound; the newest bytes are the ones kept.
TEST(QtSerialLink, FloodWithoutReaderIsCapped)
{
    Pty device;
    kc::QtSerialLink link(device.path);
    link.setWakeAt(0);
    ASSERT_TRUE(link.open());
    QByteArray flood;
    for (quint32 i = 0; i < 40000; ++i) // 160 000 bytes of big-endian counters
        flood.append(char(i >> 24)).append(char(i >> 16)).append(char(i >> 8)).append(char(i));
    qsizetype written = 0;
    int queued = -1;
    ASSERT_TRUE(pumpUntil([&] {
        written += qMax<ssize_t>(
            ::write(device.far, flood.constData() + written, flood.size() - written), 0);
        ::ioctl(device.near, FIONREAD, &queued);
        return written == flood.size() && queued == 0 &&
               link.buffered() == kc::QtSerialLink::inputCap;
    }));
    pumpFor(20); // bytes still on their way would show up here
    EXPECT_EQ(link.readAll(), flood.right(kc::QtSerialLink::inputCap));
}

// A device held by one link is busy for another, even under another name, and
// says so; closing frees it. The line takes the rate, also while open, one stop
// bit and no flow control. A COMn name with nothing behind it says there is
// no device, and finds the device once one is mapped to it.
TEST(QtSerialLink, BusyMissingAndFoundLater)
{
    Pty device;
    QTemporaryDir dir;
    const QString alias = dir.filePath(QStringLiteral("alias"));
    ASSERT_TRUE(QFile::link(device.path, alias));
    kc::QtSerialLink link(alias);
    link.setBaud(19200);
    ASSERT_TRUE(link.open());
    termios line{};
    ::tcgetattr(device.near, &line);
    EXPECT_EQ(::cfgetospeed(&line), speed_t(B19200));
    // A pseudo-terminal keeps eight bits and no parity whatever it is told.
    EXPECT_EQ(line.c_cflag & (CSTOPB | CRTSCTS), tcflag_t(0));
    link.setBaud(38400);
    ::tcgetattr(device.near, &line);
    EXPECT_EQ(::cfgetospeed(&line), speed_t(B38400));

    qunsetenv("KC4420_COM25");
    kc::QtSerialLink other(QStringLiteral("COM25"));
    EXPECT_FALSE(other.open());
    EXPECT_EQ(other.lastFailure(), kc::OpenFailure::NoDevice);
    qputenv("KC4420_COM25", device.path.toLocal8Bit());
    EXPECT_FALSE(other.open());
    EXPECT_EQ(other.lastFailure(), kc::OpenFailure::Busy);
    EXPECT_TRUE(link.isOpen());
    link.close();
    EXPECT_TRUE(other.open());
    expectRequestArrives(other, device);
    qunsetenv("KC4420_COM25");
}

} // namespace
