#pragma once

#include "protocol/Link.h"
#include "protocol/PortNaming.h"

#include <QTcpSocket>
#include <QTimer>

#include <cstdint>

namespace kc {

// A line behind a TCP connection. Over "tcp://" the RTU bytes pass as a
// transparent serial device server passes them, and the engine's RTU rules
// apply as on a serial line. Over "modbus-tcp://" each request goes out in an
// MBAP header with a transaction id of its own and the station as unit id, and
// each reply is handed on as the RTU frame it stands for, so one rule judges
// replies over every link; a reply to another transaction or with a length
// that lies comes out through noAnswer().
class TcpLink : public Link
{
    Q_OBJECT
public:
    static constexpr int defaultConnectTimeoutMs = 5000;
    // Bytes kept for a reader that never comes; older ones are dropped beyond it.
    static constexpr qint64 inputCap = 64 * 1024;

    // name: the port as the operator named it ("COM3", the address); empty for the address.
    explicit TcpLink(const NetworkAddress &address, const QString &name = {},
                     QObject *parent = nullptr);
    ~TcpLink() override;

    void setConnectTimeout(int ms) { m_connectTimeoutMs = ms; }

    QString name() const override { return m_name; }
    // The device server's own settings decide the rate; it is kept for wire times.
    void setBaud(int baud) override { m_baud = baud; }
    int baud() const override { return m_baud; }

    bool open() override;
    void close() override;
    bool isOpen() const override { return m_open; }
    bool connecting() const override { return m_open && !m_connected; }
    OpenFailure lastFailure() const override { return m_failure; }
    QString device() const override { return m_address.url(); }

    void discardInput() override;
    void write(const QByteArray &bytes) override;
    QByteArray readAll() override;
    void setWakeAt(int bytes) override { m_wakeAt = bytes; }
    bool setsRate() const override { return false; }
    bool needsSilence() const override { return m_address.framing == NetworkFraming::Rtu; }

private:
    bool modbusTcp() const { return m_address.framing == NetworkFraming::ModbusTcp; }
    void onConnected();
    void onReadyRead();
    void takeReplies();
    void onError(QAbstractSocket::SocketError error);
    void loseLine();

    NetworkAddress m_address;
    QString m_name;
    QTcpSocket m_socket;
    QTimer m_connectTimer;
    int m_connectTimeoutMs = defaultConnectTimeoutMs;
    int m_baud = 9600;
    int m_wakeAt = 1;
    OpenFailure m_failure = OpenFailure::None;
    bool m_open = false;
    bool m_connected = false;
    // A failure inside open() is its result, not a line event.
    bool m_opening = false;
    QByteArray m_input;              // what readAll() hands over: RTU bytes
    QByteArray m_stream;             // Modbus TCP: received bytes not yet a whole ADU
    std::uint16_t m_transaction = 0; // of the request last sent
    // Counts discards: replies read in one go after the engine discarded its
    // input belong to the exchange that ended, not to the request now sent.
    quint64 m_discards = 0;
};

} // namespace kc
