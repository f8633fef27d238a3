#include "protocol/QtSerialLink.h"

#include "link/PtyPair.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QByteArray readRequest = QByteArray::fromHex("010300000002c40b");

// Plays the window's receiver: records each event and, on a receive, takes
// everything and empties the buffer, the way the real handler does.
struct Receiver
{
    explicit Receiver(kc::QtSerialLink &link)
    {
        QObject::connect(&link, &kc::SerialLink::comm, &link, [this, &link] {
            events << link.commEvent();
            if (link.commEvent() == kc::CommEventCode::Receive) {
                deliveries << link.input();
                link.discardInput();
            }
        });
    }
    QList<int> events;
    QList<QByteArray> deliveries;
};

speed_t lineSpeed(int fd)
{
    termios t{};
    ::tcgetattr(fd, &t);
    return ::cfgetospeed(&t);
}

class QtSerialLinkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.isValid());
        qputenv("KC4420_COM1", pty.slavePath().toLocal8Bit());
        link.setCommPort(1);
        link.setSettings(QStringLiteral("9600,N,8,1"));
    }
    void TearDown() override
    {
        link.close();
        qunsetenv("KC4420_COM1");
        qunsetenv("KC4420_COM2");
    }
    // The port carries a request to the device.
    void expectRequestArrives(PtyPair &device)
    {
        link.output(readRequest);
        EXPECT_EQ(device.readOnDevice(readRequest.size()).toHex(), readRequest.toHex());
    }

    PtyPair pty;
    kc::QtSerialLink link;
};

TEST_F(QtSerialLinkTest, opensRawAtTheSettingsBaudAndFollowsNewSettings)
{
    // Pseudo-terminals have no low-latency mode; the port opens all the same.
    EXPECT_FALSE(kc::requestLowLatency(pty.slaveFd()));
    ASSERT_TRUE(link.open());
    EXPECT_FALSE(link.lowLatency());
    termios t{};
    ASSERT_EQ(::tcgetattr(pty.slaveFd(), &t), 0);
    EXPECT_EQ(::cfgetispeed(&t), speed_t(B9600));
    EXPECT_EQ(::cfgetospeed(&t), speed_t(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), tcflag_t(0));
    // Opening an open port fails without disturbing it.
    EXPECT_FALSE(link.open());
    EXPECT_TRUE(link.isOpen());

    link.setSettings(QStringLiteral("38400,N,8,1"));
    EXPECT_EQ(lineSpeed(pty.slaveFd()), speed_t(B38400));
    link.close();
    ASSERT_TRUE(link.open());
    EXPECT_EQ(lineSpeed(pty.slaveFd()), speed_t(B38400));
    expectRequestArrives(pty);
}

// However the reply is cut, no event fires before the threshold is buffered
// and exactly one fires once it is, carrying every byte. With no threshold the
// bytes wait for the caller.
TEST_F(QtSerialLinkTest, oneReceiveEventOnceTheThresholdIsBuffered)
{
    Receiver receiver(link);
    ASSERT_TRUE(link.open());
    // Stale bytes dropped before the first reply must not reach it.
    ASSERT_TRUE(pty.writeFromDevice("stale"));
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
            ASSERT_TRUE(pty.writeFromDevice(all.right(size)));
            if (c.threshold > 0 && all.size() >= c.threshold) {
                ASSERT_TRUE(pumpUntil([&] { return !receiver.events.isEmpty(); }));
            } else {
                ASSERT_TRUE(pumpUntil([&] { return link.buffered() == all.size(); }));
                EXPECT_TRUE(receiver.events.isEmpty()) << "after " << all.size() << " bytes";
            }
        }
        QTest::qWait(30);
        EXPECT_EQ(receiver.events.size(), c.threshold > 0 ? 1 : 0);
        EXPECT_EQ(receiver.events.count(kc::CommEventCode::Receive), receiver.events.size());
        EXPECT_EQ(c.threshold > 0 ? receiver.deliveries : QList<QByteArray>{link.input()},
                  QList<QByteArray>{all});
    }
}

// A device that floods the line while nobody reads must not grow memory
// without bound; the newest bytes are the ones kept.
TEST_F(QtSerialLinkTest, floodWithoutReaderIsCapped)
{
    ASSERT_TRUE(link.open());
    link.setRThreshold(1);
    QByteArray flood;
    for (quint32 i = 0; i < 40000; ++i) // 160 000 bytes of big-endian counters
        flood.append(char(i >> 24)).append(char(i >> 16)).append(char(i >> 8)).append(char(i));
    for (qsizetype at = 0; at < flood.size(); at += 4096)
        ASSERT_TRUE(pty.writeFromDevice(flood.mid(at, 4096)));
    const auto drained = [&] {
        int queued = -1;
        ::ioctl(pty.slaveFd(), FIONREAD, &queued);
        return queued == 0 && link.buffered() == kc::QtSerialLink::inputCap;
    };
    ASSERT_TRUE(pumpUntil(drained));
    QTest::qWait(20); // bytes still on their way through the pty would show up here
    ASSERT_TRUE(drained());
    EXPECT_EQ(link.input(), flood.right(kc::QtSerialLink::inputCap));
}

// The far end going away gives one line-lost event and a closed port, whether
// or not a reply was awaited; the port then opens again and works.
TEST_F(QtSerialLinkTest, farEndClosingGivesOneLineLostEventAndClosesThePort)
{
    Receiver receiver(link);
    for (int threshold : {1, 0}) {
        SCOPED_TRACE(threshold);
        PtyPair device;
        ASSERT_TRUE(device.isValid());
        qputenv("KC4420_COM1", device.slavePath().toLocal8Bit());
        ASSERT_TRUE(link.open());
        receiver.events.clear();
        receiver.deliveries.clear();
        link.setRThreshold(1);
        ASSERT_TRUE(device.writeFromDevice("\x01"));
        ASSERT_TRUE(pumpUntil([&] { return !receiver.events.isEmpty(); }));
        EXPECT_EQ(receiver.deliveries, QList<QByteArray>{"\x01"});
        expectRequestArrives(device);

        link.setRThreshold(threshold);
        device.closeDevice();
        ASSERT_TRUE(pumpUntil([&] { return receiver.events.size() == 2; }));
        QTest::qWait(100); // a storm of repeated errors would show up here
        EXPECT_EQ(receiver.events,
                  (QList<int>{kc::CommEventCode::Receive, kc::CommEventCode::LineLost}));
        EXPECT_FALSE(link.isOpen());
    }
}

// Nothing to open gives a plain failure, no event, and no harm to the next open.
TEST_F(QtSerialLinkTest, openFailsWithoutADeviceAndWorksOnceItExists)
{
    Receiver receiver(link);
    const struct
    {
        int number;
        const char *path; // for KC4420_COM1; nullptr keeps the pseudo-terminal
        const char *settings;
    } cases[] = {{1, "/nonexistent/kc-link-tty", "9600,N,8,1"},
                 {1, "/proc/version", "9600,N,8,1"},
                 {26, nullptr, "9600,N,8,1"},
                 {1, nullptr, "0,N,8,1"},
                 {1, nullptr, "-9600,N,8,1"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.number << " " << (c.path ? c.path : "") << " " << c.settings);
        qputenv("KC4420_COM1", c.path ? QByteArray(c.path) : pty.slavePath().toLocal8Bit());
        link.setCommPort(c.number);
        link.setSettings(QString::fromLatin1(c.settings));
        EXPECT_FALSE(link.open());
        EXPECT_FALSE(link.isOpen());
    }
    qputenv("KC4420_COM1", pty.slavePath().toLocal8Bit());
    link.setCommPort(1);
    link.setSettings(QStringLiteral("9600,N,8,1"));
    ASSERT_TRUE(link.open());
    expectRequestArrives(pty);
    EXPECT_TRUE(receiver.events.isEmpty());
}

// A device held by one link is busy for another, even under another name;
// closing frees it.
TEST_F(QtSerialLinkTest, portInUseDoesNotOpenUnderAnyName)
{
    const QString alias = QDir::temp().filePath(QStringLiteral("kc-link-alias-%1").arg(::getpid()));
    QFile::remove(alias);
    ASSERT_TRUE(QFile::link(pty.slavePath(), alias));
    qputenv("KC4420_COM2", alias.toLocal8Bit());
    link.setCommPort(2);
    const bool opened = link.open();
    QFile::remove(alias);
    ASSERT_TRUE(opened);
    expectRequestArrives(pty);

    kc::QtSerialLink other;
    other.setCommPort(1);
    EXPECT_FALSE(other.open());
    EXPECT_TRUE(link.isOpen());
    link.close();
    EXPECT_TRUE(other.open());
}

} // namespace
