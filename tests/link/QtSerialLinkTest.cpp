#include "protocol/QtSerialLink.h"

#include "link/PtyPair.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>

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
    explicit Receiver(kc::QtSerialLink &link, bool reads = true)
    {
        QObject::connect(&link, &kc::SerialLink::comm, &link, [this, &link, reads] {
            events << link.commEvent();
            if (reads && link.commEvent() == kc::CommEventCode::Receive) {
                deliveries << link.input();
                link.discardInput();
            }
        });
    }
    int count(int code) const { return int(events.count(code)); }

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

    PtyPair pty;
    kc::QtSerialLink link;
};

TEST_F(QtSerialLinkTest, opensAt9600EightNoneOneRaw)
{
    ASSERT_TRUE(link.open());
    EXPECT_TRUE(link.isOpen());
    EXPECT_EQ(link.device(), pty.slavePath());

    termios t{};
    ASSERT_EQ(::tcgetattr(pty.slaveFd(), &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), speed_t(B9600));
    EXPECT_EQ(::cfgetispeed(&t), speed_t(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), tcflag_t(0));
}

struct BaudCase
{
    const char *settings;
    speed_t speed;
};

class QtSerialLinkBaud : public QtSerialLinkTest, public ::testing::WithParamInterface<BaudCase>
{
};

TEST_P(QtSerialLinkBaud, opensAtTheSettingsBaud)
{
    link.setSettings(QString::fromLatin1(GetParam().settings));
    ASSERT_TRUE(link.open());
    EXPECT_EQ(lineSpeed(pty.slaveFd()), GetParam().speed);
}

INSTANTIATE_TEST_SUITE_P(Rates, QtSerialLinkBaud,
                         ::testing::Values(BaudCase{"1200,N,8,1", B1200},
                                           BaudCase{"9600,N,8,1", B9600},
                                           BaudCase{"19200,N,8,1", B19200},
                                           BaudCase{"38400,N,8,1", B38400},
                                           BaudCase{"115200,N,8,1", B115200}));

TEST_F(QtSerialLinkTest, newSettingsWhileOpenTakeEffectAtOnce)
{
    ASSERT_TRUE(link.open());
    link.setSettings(QStringLiteral("38400,N,8,1"));
    EXPECT_EQ(link.settings(), QStringLiteral("38400,N,8,1"));
    EXPECT_TRUE(link.isOpen());
    EXPECT_EQ(lineSpeed(pty.slaveFd()), speed_t(B38400));
}

TEST_F(QtSerialLinkTest, settingsWithoutABaudDoNotOpen)
{
    for (const char *bad : {"", "N,8,1", "abc,N,8,1", "0,N,8,1", "-9600,N,8,1"}) {
        link.setSettings(QString::fromLatin1(bad));
        EXPECT_FALSE(link.open()) << bad;
        EXPECT_FALSE(link.isOpen()) << bad;
    }
}

TEST_F(QtSerialLinkTest, frameWrittenArrivesWholeOnTheDevice)
{
    ASSERT_TRUE(link.open());
    link.output(readRequest);
    EXPECT_EQ(pty.readOnDevice(readRequest.size()), readRequest);
}

TEST_F(QtSerialLinkTest, nothingIsSentWhileClosed)
{
    ASSERT_TRUE(link.open());
    link.close();
    EXPECT_FALSE(link.isOpen());
    link.output(readRequest);
    pumpFor(50);
    EXPECT_EQ(pty.pendingOnDevice(), 0);
}

TEST_F(QtSerialLinkTest, discardOutputDropsWhatWasNotSentYet)
{
    ASSERT_TRUE(link.open());
    link.output(readRequest);
    link.discardOutput(); // before the event loop could hand the bytes to the driver
    pumpFor(50);
    EXPECT_EQ(pty.pendingOnDevice(), 0);
    link.output(readRequest);
    EXPECT_EQ(pty.readOnDevice(readRequest.size()), readRequest);
}

struct PiecesCase
{
    const char *what;
    int threshold;
    QList<int> pieces; // sizes written one after another, each buffered before the next
};

void PrintTo(const PiecesCase &c, std::ostream *os)
{
    *os << c.what;
}

class QtSerialLinkPieces : public QtSerialLinkTest, public ::testing::WithParamInterface<PiecesCase>
{
};

// However the reply is cut, no event fires before the threshold is buffered and
// exactly one fires once it is, carrying every byte.
TEST_P(QtSerialLinkPieces, oneReceiveEventOnceTheThresholdIsBuffered)
{
    const PiecesCase &c = GetParam();
    Receiver receiver(link);
    ASSERT_TRUE(link.open());
    link.setRThreshold(c.threshold);

    QByteArray all;
    int sent = 0;
    for (int size : c.pieces) {
        QByteArray piece;
        for (int i = 0; i < size; ++i)
            piece.append(char(0x30 + sent + i));
        all += piece;
        const bool wasBelow = sent < c.threshold;
        sent += size;
        ASSERT_TRUE(pty.writeFromDevice(piece));
        if (sent < c.threshold) {
            ASSERT_TRUE(pumpUntil([&] { return link.buffered() == sent; }));
            EXPECT_TRUE(receiver.events.isEmpty()) << "after " << sent << " bytes";
        } else if (wasBelow) {
            ASSERT_TRUE(pumpUntil([&] { return !receiver.events.isEmpty(); }));
        }
    }
    pumpFor(30);
    EXPECT_EQ(receiver.events, QList<int>{kc::CommEventCode::Receive});
    ASSERT_EQ(receiver.deliveries.size(), 1);
    EXPECT_EQ(receiver.deliveries.first(), all);
    EXPECT_EQ(link.buffered(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, QtSerialLinkPieces,
    ::testing::Values(PiecesCase{"whole reply at once", 9, {9}},
                      PiecesCase{"three pieces", 9, {3, 3, 3}},
                      PiecesCase{"byte by byte", 9, {1, 1, 1, 1, 1, 1, 1, 1, 1}},
                      PiecesCase{"all but the last byte, then the last", 9, {8, 1}},
                      PiecesCase{"threshold of one", 1, {1}},
                      PiecesCase{"more than the threshold in one piece", 6, {8}}));

TEST_F(QtSerialLinkTest, noReceiveEventWithThresholdZero)
{
    Receiver receiver(link);
    ASSERT_TRUE(link.open());
    link.setRThreshold(0);
    const QByteArray reply = QByteArray::fromHex("0103040001000233fa");
    ASSERT_TRUE(pty.writeFromDevice(reply));
    ASSERT_TRUE(pumpUntil([&] { return link.buffered() == reply.size(); }));
    pumpFor(30);
    EXPECT_TRUE(receiver.events.isEmpty());
    EXPECT_EQ(link.input(), reply);
    EXPECT_EQ(link.input(), QByteArray());
}

TEST_F(QtSerialLinkTest, discardInputDropsEverythingBuffered)
{
    ASSERT_TRUE(link.open());
    ASSERT_TRUE(pty.writeFromDevice("stale bytes"));
    ASSERT_TRUE(pumpUntil([&] { return link.buffered() == 11; }));
    link.discardInput();
    EXPECT_EQ(link.buffered(), 0);
    EXPECT_EQ(link.input(), QByteArray());

    // What arrives afterwards is buffered as usual.
    ASSERT_TRUE(pty.writeFromDevice("fresh"));
    ASSERT_TRUE(pumpUntil([&] { return link.buffered() == 5; }));
    EXPECT_EQ(link.input(), QByteArray("fresh"));
}

// A device that floods the line while nobody reads must not grow memory without bound;
// the newest bytes are the ones kept.
TEST_F(QtSerialLinkTest, floodWithoutReaderIsCapped)
{
    Receiver receiver(link, false);
    ASSERT_TRUE(link.open());
    link.setRThreshold(1);

    QByteArray flood;
    for (quint32 i = 0; i < 40000; ++i) { // 160 000 bytes of big-endian counters
        const char word[4] = {char(i >> 24), char(i >> 16), char(i >> 8), char(i)};
        flood.append(word, 4);
    }
    qint64 largest = 0;
    for (qsizetype at = 0; at < flood.size(); at += 4096) {
        ASSERT_TRUE(pty.writeFromDevice(flood.mid(at, 4096)));
        pumpFor(1);
        largest = qMax(largest, link.buffered());
    }
    const auto drained = [&] {
        int queued = -1;
        ::ioctl(pty.slaveFd(), FIONREAD, &queued);
        largest = qMax(largest, link.buffered());
        return queued == 0 && link.buffered() == kc::QtSerialLink::inputCap;
    };
    ASSERT_TRUE(pumpUntil(drained));
    pumpFor(20);
    ASSERT_TRUE(drained());

    EXPECT_LE(largest, kc::QtSerialLink::inputCap);
    EXPECT_FALSE(receiver.events.isEmpty());
    EXPECT_EQ(receiver.count(kc::CommEventCode::Receive), receiver.events.size());
    EXPECT_EQ(link.input(), flood.right(kc::QtSerialLink::inputCap));
}

TEST_F(QtSerialLinkTest, farEndClosingGivesOneLineLostEventAndClosesThePort)
{
    Receiver receiver(link);
    ASSERT_TRUE(link.open());
    link.setRThreshold(1);
    pty.closeDevice();

    ASSERT_TRUE(pumpUntil([&] { return !receiver.events.isEmpty(); }));
    EXPECT_FALSE(link.isOpen());
    pumpFor(100); // a storm of repeated errors would show up here
    EXPECT_EQ(receiver.events, QList<int>{kc::CommEventCode::LineLost});
    EXPECT_EQ(link.commEvent(), kc::CommEventCode::LineLost);
    EXPECT_FALSE(link.isOpen());
    EXPECT_TRUE(receiver.deliveries.isEmpty());

    // The adapter comes back (here: a new pair under the same entry).
    PtyPair again;
    ASSERT_TRUE(again.isValid());
    qputenv("KC4420_COM1", again.slavePath().toLocal8Bit());
    ASSERT_TRUE(link.open());
    again.writeFromDevice(QByteArray("\x01", 1));
    ASSERT_TRUE(pumpUntil([&] { return receiver.events.size() == 2; }));
    EXPECT_EQ(receiver.events.last(), kc::CommEventCode::Receive);
    EXPECT_EQ(receiver.deliveries, QList<QByteArray>{QByteArray("\x01", 1)});
    link.output(readRequest);
    EXPECT_EQ(again.readOnDevice(readRequest.size()), readRequest);
}

TEST_F(QtSerialLinkTest, farEndClosingWithNoThresholdStillReportsTheLoss)
{
    Receiver receiver(link);
    ASSERT_TRUE(link.open());
    link.setRThreshold(0);
    pty.closeDevice();
    ASSERT_TRUE(pumpUntil([&] { return !receiver.events.isEmpty(); }));
    pumpFor(50);
    EXPECT_EQ(receiver.events, QList<int>{kc::CommEventCode::LineLost});
    EXPECT_FALSE(link.isOpen());
}

struct MissingCase
{
    const char *what;
    int number;
    const char *envPath; // for KC4420_COM<number>; nullptr leaves it unset
};

void PrintTo(const MissingCase &c, std::ostream *os)
{
    *os << c.what;
}

class QtSerialLinkMissing : public QtSerialLinkTest,
                            public ::testing::WithParamInterface<MissingCase>
{
};

TEST_P(QtSerialLinkMissing, openFailsQuietlyAndLeavesThePortClosed)
{
    const MissingCase &c = GetParam();
    Receiver receiver(link);
    const QByteArray variable = QStringLiteral("KC4420_COM%1").arg(c.number).toLatin1();
    if (c.envPath)
        qputenv(variable.constData(), c.envPath);
    link.setCommPort(c.number);
    EXPECT_FALSE(link.open());
    EXPECT_FALSE(link.isOpen());
    pumpFor(30);
    EXPECT_TRUE(receiver.events.isEmpty());
    if (c.envPath)
        qunsetenv(variable.constData());
}

INSTANTIATE_TEST_SUITE_P(
    NoDevice, QtSerialLinkMissing,
    ::testing::Values(MissingCase{"path that does not exist", 2, "/nonexistent/kc-link-tty"},
                      MissingCase{"path that is not a terminal", 2, "/proc/version"},
                      MissingCase{"entry 0 maps to nothing", 0, nullptr},
                      MissingCase{"entry 26 maps to nothing", 26, nullptr}));

TEST_F(QtSerialLinkTest, openWorksAgainOnceTheDeviceExists)
{
    qputenv("KC4420_COM1", "/nonexistent/kc-link-tty");
    EXPECT_FALSE(link.open());
    qputenv("KC4420_COM1", pty.slavePath().toLocal8Bit());
    ASSERT_TRUE(link.open());
    link.output(readRequest);
    EXPECT_EQ(pty.readOnDevice(readRequest.size()), readRequest);
}

TEST_F(QtSerialLinkTest, portInUseByAnotherLinkDoesNotOpen)
{
    ASSERT_TRUE(link.open());
    kc::QtSerialLink other;
    other.setCommPort(1);
    EXPECT_FALSE(other.open());
    EXPECT_FALSE(other.isOpen());
    EXPECT_TRUE(link.isOpen());
    link.close();
    EXPECT_TRUE(other.open());
}

TEST_F(QtSerialLinkTest, portInUseUnderAnotherNameDoesNotOpen)
{
    const QString alias = QDir::temp().filePath(QStringLiteral("kc-link-alias-%1").arg(::getpid()));
    QFile::remove(alias);
    ASSERT_TRUE(QFile::link(pty.slavePath(), alias));
    qputenv("KC4420_COM2", alias.toLocal8Bit());
    ASSERT_TRUE(link.open());
    kc::QtSerialLink other;
    other.setCommPort(2);
    const bool otherOpened = other.open();
    QFile::remove(alias);
    EXPECT_FALSE(otherOpened);
    EXPECT_TRUE(link.isOpen());
}

TEST_F(QtSerialLinkTest, openingAnOpenPortFailsAndKeepsItOpen)
{
    ASSERT_TRUE(link.open());
    EXPECT_FALSE(link.open());
    EXPECT_TRUE(link.isOpen());
    link.output(readRequest);
    EXPECT_EQ(pty.readOnDevice(readRequest.size()), readRequest);
}

TEST_F(QtSerialLinkTest, reachesTheDeviceThroughASymlink)
{
    const QString linkPath =
        QDir::temp().filePath(QStringLiteral("kc-link-test-%1").arg(::getpid()));
    QFile::remove(linkPath);
    ASSERT_TRUE(QFile::link(pty.slavePath(), linkPath));
    qputenv("KC4420_COM1", linkPath.toLocal8Bit());
    const bool opened = link.open();
    QFile::remove(linkPath);
    ASSERT_TRUE(opened);
    link.output(readRequest);
    EXPECT_EQ(pty.readOnDevice(readRequest.size()), readRequest);
}

// Pseudo-terminals have no low-latency mode; the port must open all the same.
TEST_F(QtSerialLinkTest, lowLatencyRefusedStillOpens)
{
    EXPECT_FALSE(kc::requestLowLatency(pty.slaveFd()));
    ASSERT_TRUE(link.open());
    EXPECT_FALSE(link.lowLatency());
    link.output(readRequest);
    EXPECT_EQ(pty.readOnDevice(readRequest.size()), readRequest);
}

TEST_F(QtSerialLinkTest, closedPortHasNothingToRead)
{
    ASSERT_TRUE(link.open());
    ASSERT_TRUE(pty.writeFromDevice("abc"));
    ASSERT_TRUE(pumpUntil([&] { return link.buffered() == 3; }));
    link.close();
    EXPECT_EQ(link.input(), QByteArray());
    link.discardInput();
    link.discardOutput();
    EXPECT_FALSE(link.isOpen());
}

} // namespace
