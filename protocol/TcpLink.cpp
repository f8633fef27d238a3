#include "protocol/TcpLink.h"

#include "protocol/Mbap.h"

#include <QMetaObject>
#include <QVector>

#include <utility>

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace kc {

namespace {

OpenFailure failureOf(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return OpenFailure::Refused;
    case QAbstractSocket::HostNotFoundError:
        return OpenFailure::NoHost;
    case QAbstractSocket::SocketTimeoutError:
        return OpenFailure::Timeout;
    case QAbstractSocket::SocketAccessError:
        return OpenFailure::NoPermission;
    default:
        return OpenFailure::Other;
    }
}

void keepWithin(QByteArray &input, qint64 cap)
{
    if (input.size() > cap)
        input.remove(0, input.size() - cap);
}

} // namespace

TcpLink::TcpLink(const NetworkAddress &address, const QString &name, QObject *parent)
    : Link(parent), m_address(address),
      m_name(name.trimmed().isEmpty() ? address.url() : name.trimmed())
{
    m_connectTimer.setSingleShot(true);
    m_connectTimer.setObjectName(QStringLiteral("connectTimeout"));
    connect(&m_connectTimer, &QTimer::timeout, this, [this] {
        m_failure = OpenFailure::Timeout;
        loseLine();
    });
    connect(&m_socket, &QTcpSocket::connected, this, &TcpLink::onConnected);
    connect(&m_socket, &QTcpSocket::readyRead, this, &TcpLink::onReadyRead);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &TcpLink::onError);
    // A far end that closes cleanly may report no error at all.
    connect(&m_socket, &QTcpSocket::disconnected, this, [this] {
        if (m_open)
            loseLine();
    });
}

TcpLink::~TcpLink()
{
    m_socket.disconnect(this);
    m_socket.abort();
}

bool TcpLink::open()
{
    if (m_open)
        return false;
    m_failure = OpenFailure::None;
    m_open = true;
    m_connected = false;
    // Qt may find the connection refused inside this call; that is open()'s answer.
    m_opening = true;
    m_socket.connectToHost(m_address.host, quint16(m_address.port));
    m_opening = false;
    if (!m_open)
        return false;
    m_connectTimer.start(m_connectTimeoutMs);
    return true;
}

void TcpLink::close()
{
    if (!m_open)
        return;
    // Before the abort: the socket reports its own closing through our handlers.
    m_open = false;
    m_connected = false;
    m_connectTimer.stop();
    m_socket.abort();
    m_input.clear();
    m_stream.clear();
}

void TcpLink::onConnected()
{
    m_connectTimer.stop();
    m_connected = true;
    // A request is one small write: Nagle's wait for more would delay each by
    // the far end's delayed acknowledgement.
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
#ifdef Q_OS_LINUX
    // Requests the far end does not acknowledge end the connection within
    // seconds rather than the system's quarter of an hour, so a pulled cable
    // reads as a lost line, as a pulled adapter does.
    const unsigned int unacknowledgedMs = 10000;
    ::setsockopt(int(m_socket.socketDescriptor()), IPPROTO_TCP, TCP_USER_TIMEOUT, &unacknowledgedMs,
                 sizeof unacknowledgedMs);
#endif
    emit connected();
}

void TcpLink::onError(QAbstractSocket::SocketError error)
{
    if (!m_open)
        return;
    if (!m_connected)
        m_failure = failureOf(error);
    loseLine();
}

void TcpLink::loseLine()
{
    close();
    // From the event loop, as the serial link does: whoever hit the error in
    // the middle of a call finishes it before the line is seen lost.
    if (!m_opening)
        QMetaObject::invokeMethod(this, &TcpLink::lost, Qt::QueuedConnection);
}

void TcpLink::discardInput()
{
    ++m_discards;
    m_input.clear();
    if (!m_connected)
        return;
    if (!modbusTcp()) {
        m_socket.readAll();
        return;
    }
    // Whole ADUs go; the start of one stays, so the stream keeps in step.
    m_stream += m_socket.readAll();
    for (MbapSplit s; (s = splitMbap(m_stream)).state != MbapSplit::State::Partial;)
        m_stream.remove(0, s.state == MbapSplit::State::Whole ? s.size : m_stream.size());
}

void TcpLink::write(const QByteArray &bytes)
{
    if (!m_connected)
        return;
    if (!modbusTcp()) {
        m_socket.write(bytes);
        return;
    }
    if (const auto adu = aduFromRtu(std::uint16_t(m_transaction + 1), bytes)) {
        m_transaction = adu->transaction;
        m_socket.write(encodeMbap(*adu));
    }
}

QByteArray TcpLink::readAll()
{
    return std::exchange(m_input, {});
}

void TcpLink::onReadyRead()
{
    if (modbusTcp())
        return takeReplies();
    m_input += m_socket.readAll();
    keepWithin(m_input, inputCap);
    if (m_wakeAt > 0 && m_input.size() >= m_wakeAt)
        emit arrived();
}

void TcpLink::takeReplies()
{
    m_stream += m_socket.readAll();
    struct Piece
    {
        bool answer;
        QByteArray bytes;
    };
    QVector<Piece> pieces;
    for (;;) {
        const MbapReply reply = readMbapReply(m_stream, m_transaction);
        if (reply.kind == MbapReply::Kind::Partial)
            break;
        const bool answer = reply.kind == MbapReply::Kind::Answer;
        pieces.push_back({answer, answer ? reply.rtu : m_stream.left(reply.size)});
        m_stream.remove(0, reply.size);
    }
    // In the stream's order. Once the engine has discarded its input and sent
    // anew, what is left was no reply to the request now in flight.
    const quint64 discards = m_discards;
    for (const Piece &piece : std::as_const(pieces)) {
        if (m_discards != discards || !m_open)
            return;
        if (!piece.answer) {
            emit noAnswer(piece.bytes);
            continue;
        }
        m_input += piece.bytes;
        keepWithin(m_input, inputCap);
        if (m_wakeAt > 0 && m_input.size() >= m_wakeAt)
            emit arrived();
    }
}

} // namespace kc
