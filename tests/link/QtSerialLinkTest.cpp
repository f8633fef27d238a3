#include "protocol/QtSerialLink.h"

#include "support/Pty.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <termios.h>

namespace {

// Plays the window's receiver: records each event and, on a receive, takes
// everything, the way the real handler does.
struct Receiver
{
    explicit Receiver(kc::QtSerialLink &link)
    {
        QObject::connect(&link, &kc::SerialLink::comm, &link, [this, &link] {
            events << link.commEvent();
            if (link.commEvent() == kc::CommEventCode::Receive)
                deliveries << link.input();
        });
    }
    QList<int> events;
    QList<QByteArray> deliveries;
};

// The port carries a request to the device.
void expectRequestArrives(kc::QtSerialLink &link, const Pty &device)
{
    const QByteArray request = QByteArray::fromHex("010300000002c40b");
    link.output(request);
    QByteArray got;
    pumpUntil([&] {
        char c[8];
        got.append(c, qMax<ssize_t>(::read(device.far, c, size_t(8 - got.size())), 0));
        return got.size() == 8;
    });
    EXPECT_EQ(got.toHex(), request.toHex());
}

// However the reply is cut, no event fires before the threshold is buffered
// and exactly one fires once it is, carrying every byte. With no threshold the
// bytes wait for the caller.
TEST(QtSerialLink, oneReceiveEventOnceTheThresholdIsBuffered)
{
    Pty device;
    kc::QtSerialLink link;
    Receiver receiver(link);
    link.setDevice(device.path);
    ASSERT_TRUE(link.open());
    // Stale bytes dropped before the first reply must not reach it.
    ASSERT_EQ(::write(device.far, "stale", 5), 5);
    ASSERT_TRUE(pumpUntil([&] { return link.buffered() == 5; }));
    link.discardInput();
    const struct
    {
        int threshold;
        QList<int> pieces; // each buffered before the next is written
    } cases[] = {{9, {9}}, {9, {3, 3, 3}}, {9, {8, 1}}, {6, {8}}, {0, {9}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.threshold << " in " << c.pieces.size() << " pieces");
        receiver.events.clear();
        receiver.deliveries.clear();
        link.setRThreshold(c.threshold);
        QByteArray all;
        for (int size : c.pieces) {
            all += QByteArray(size, char('0' + all.size()));
            ASSERT_EQ(::write(device.far, all.constData() + all.size() - size, size), size);
            if (c.threshold > 0 && all.size() >= c.threshold) {
                ASSERT_TRUE(pumpUntil([&] { return !receiver.events.isEmpty(); }));
            } else {
                ASSERT_TRUE(pumpUntil([&] { return link.buffered() == all.size(); }));
                EXPECT_TRUE(receiver.events.isEmpty()) << "after " << all.size() << " bytes";
            }
        }
        pumpFor(30);
        // Counted, not compared as lists: comparing two empty QLists trips UBSan in Qt's header.
        EXPECT_EQ(receiver.events.count(kc::CommEventCode::Receive), c.threshold > 0 ? 1 : 0);
        EXPECT_EQ(receiver.events.size(), c.threshold > 0 ? 1 : 0);
        EXPECT_EQ(c.threshold > 0 ? receiver.deliveries : QList<QByteArray>{link.input()},
                  QList<QByteArray>{all});
    }
}

// The far end going away gives one line-lost event and a closed port, whether
// or not a reply was awaited; the link then opens the next device and works.
TEST(QtSerialLink, farEndGoneGivesOneLineLostEventAndClosesThePort)
{
    kc::QtSerialLink link;
    Receiver receiver(link);
    for (int threshold : {1, 0}) {
        SCOPED_TRACE(threshold);
        Pty device;
        link.setDevice(device.path);
        ASSERT_TRUE(link.open());
        receiver.events.clear();
        link.setRThreshold(threshold);
        expectRequestArrives(link, device);
        device.unplug();
        ASSERT_TRUE(pumpUntil([&] { return !receiver.events.isEmpty(); }));
        pumpFor(100); // a storm of repeated errors would show up here
        EXPECT_EQ(receiver.events, QList<int>{kc::CommEventCode::LineLost});
        EXPECT_FALSE(link.isOpen());
    }
}

// A device that floods the line while nobody reads does not grow memory
// without bound; the newest bytes are the ones kept.
TEST(QtSerialLink, floodWithoutReaderIsCapped)
{
    Pty device;
    kc::QtSerialLink link;
    link.setDevice(device.path);
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
    EXPECT_EQ(link.input(), flood.right(kc::QtSerialLink::inputCap));
}

// A device held by one link is busy for another, even under another name;
// closing frees it. The line takes the settings' rate, also while open, one
// stop bit and no flow control.
TEST(QtSerialLink, portInUseDoesNotOpenUnderAnyName)
{
    Pty device;
    QTemporaryDir dir;
    const QString alias = dir.filePath(QStringLiteral("alias"));
    ASSERT_TRUE(QFile::link(device.path, alias));
    kc::QtSerialLink link;
    link.setDevice(alias);
    link.setSettings(QStringLiteral("19200,N,8,1"));
    ASSERT_TRUE(link.open());
    termios line{};
    ::tcgetattr(device.near, &line);
    EXPECT_EQ(::cfgetospeed(&line), speed_t(B19200));
    // A pseudo-terminal keeps eight bits and no parity whatever it is told.
    EXPECT_EQ(line.c_cflag & (CSTOPB | CRTSCTS), tcflag_t(0));
    link.setSettings(QStringLiteral("38400,N,8,1"));
    ::tcgetattr(device.near, &line);
    EXPECT_EQ(::cfgetospeed(&line), speed_t(B38400));

    kc::QtSerialLink other;
    other.setDevice(device.path);
    EXPECT_FALSE(other.open());
    EXPECT_TRUE(link.isOpen());
    link.close();
    EXPECT_TRUE(other.open());
    expectRequestArrives(other, device);
}

} // namespace
