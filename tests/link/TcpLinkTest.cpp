// The network link under the line engine, against a far end on loopback.

#include "protocol/TcpLink.h"
#include "line/LineEngine.h"
#include "support/Frames.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace kc;

namespace {

const Request readOne = Request::registerRead(1, 0, 1);

// Written out here rather than by the code under test; lie: what the length
// field says beyond the truth.
QByteArray adu(int transaction, int word, int lie)
{
    const int length = 5 + lie;
    return bytes({transaction >> 8, transaction & 0xFF, 0, 0, length >> 8, length & 0xFF, 1}) +
           readReply({word}).mid(1, 4);
}

} // namespace

// Two reads queued together, as a poller queues them: each gets an outcome of
// its own, and an answered one the RTU frame of the reply to that very request
// (a word the far end numbers). The first reply comes in pieces, or followed
// in the same read by a stray one, or from another transaction, or with a
// length field that lies.
TEST(TcpLink, EachReplyJudgedForItsOwnRequest)
{
    const auto rtu = NetworkFraming::Rtu, mbap = NetworkFraming::ModbusTcp;
    const auto ok = OutcomeKind::Answered, mismatch = OutcomeKind::Mismatch;
    const struct
    {
        const char *what;
        NetworkFraming framing;
        QList<int> cuts; // where the first reply is cut into pieces sent 5 ms apart
        bool stray;
        int otherTransaction, lie;
        OutcomeKind first;
    } cases[] = {
        {"rtu in pieces", rtu, {1, 4}, false, 0, 0, ok},
        {"rtu two in one read", rtu, {}, true, 0, 0, ok},
        {"mbap in pieces", mbap, {3, 8}, false, 0, 0, ok},
        {"mbap two in one read", mbap, {}, true, 0, 0, ok},
        {"mbap another transaction", mbap, {}, false, 7, 0, mismatch},
        {"mbap length that lies", mbap, {}, false, 0, 1, mismatch},
    };
    for (const auto &c : cases) {
        const int size = c.framing == rtu ? 8 : 12; // a request's
        QTcpServer far;
        ASSERT_TRUE(far.listen(QHostAddress::LocalHost));
        int n = 0;
        QObject::connect(&far, &QTcpServer::newConnection, [&] {
            QTcpSocket *peer = far.nextPendingConnection();
            peer->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            QObject::connect(peer, &QTcpSocket::readyRead, [&, peer] {
                while (peer->bytesAvailable() >= size) {
                    const QByteArray q = peer->read(size);
                    const int t = std::uint8_t(q[0]) << 8 | std::uint8_t(q[1]);
                    const bool first = ++n == 1;
                    QByteArray reply = size == 8
                                           ? readReply({n})
                                           : adu(t + first * c.otherTransaction, n, first * c.lie);
                    if (first && c.stray)
                        reply += size == 8 ? readReply({99}) : adu(t + 1, 99, 0);
                    QList<int> cuts = first ? c.cuts : QList<int>();
                    int at = 0, delay = 0;
                    for (const int cut : cuts << int(reply.size())) {
                        const QByteArray piece = reply.mid(at, cut - at);
                        at = cut;
                        QTimer::singleShot(delay += 5, peer, [peer, piece] { peer->write(piece); });
                    }
                }
            });
        });
        LineEngine engine(new TcpLink({c.framing, QStringLiteral("127.0.0.1"), far.serverPort()}));
        QList<Outcome> outcomes;
        QObject::connect(&engine, &LineEngine::finished, [&](const Outcome &o) { outcomes << o; });
        ASSERT_TRUE(engine.open()) << c.what;
        engine.submit(readOne);
        engine.submit(readOne);
        ASSERT_TRUE(QTest::qWaitFor([&] { return outcomes.size() == 2; }, 5000)) << c.what;
        const auto hex = [](const QByteArray &b) { return b.toHex().toStdString(); };
        EXPECT_EQ(outcomes[0].kind, c.first) << c.what;
        if (c.first == ok) {
            EXPECT_EQ(hex(outcomes[0].frame), hex(readReply({1}))) << c.what;
        }
        EXPECT_EQ(outcomes[1].kind, ok) << c.what;
        EXPECT_EQ(hex(outcomes[1].frame), hex(readReply({2}))) << c.what;
    }
}

// A connection that cannot be made ends the request that waited for it, the
// line lost, and says why. (A refused one: tests/e2e, through the CLI.)
TEST(TcpLink, ConnectFailuresSayWhy)
{
    // A listener whose queue is full lets the next handshake hang, as a host
    // that drops packets does, without leaving this machine.
    const int full = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof at;
    ASSERT_EQ(::bind(full, reinterpret_cast<sockaddr *>(&at), size), 0);
    ASSERT_EQ(::listen(full, 0), 0);
    ASSERT_EQ(::getsockname(full, reinterpret_cast<sockaddr *>(&at), &size), 0);
    QTcpSocket filler;
    filler.connectToHost(QHostAddress::LocalHost, ntohs(at.sin_port));
    ASSERT_TRUE(filler.waitForConnected(3000));

    const struct
    {
        const char *host;
        int port, connectTimeoutMs;
        OpenFailure failure;
    } cases[] = {
        {"127.0.0.1", ntohs(at.sin_port), 200, OpenFailure::Timeout},
        {"nosuch.invalid", 502, 10000, OpenFailure::NoHost},
    };
    for (const auto &c : cases) {
        auto *link = new TcpLink({NetworkFraming::ModbusTcp, QLatin1String(c.host), c.port});
        link->setConnectTimeout(c.connectTimeoutMs);
        LineEngine engine(link);
        ASSERT_TRUE(engine.open()) << c.host;
        EXPECT_TRUE(engine.connecting()) << c.host; // open() did not wait for the host
        EXPECT_EQ(engine.transact(readOne).kind, OutcomeKind::NoReply) << c.host;
        EXPECT_TRUE(engine.lost()) << c.host;
        EXPECT_EQ(link->lastFailure(), c.failure) << c.host;
        EXPECT_FALSE(link->isOpen()) << c.host;
    }
    ::close(full);
}
