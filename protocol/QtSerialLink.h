#pragma once

#include "protocol/Link.h"

#include <QSerialPort>

namespace kc {

// Asks the driver to pass received bytes on at once rather than after its usual
// batching delay, so a reply's last byte is not held back. False where the driver
// has no such mode (pseudo-terminals, some USB adapters, Windows).
bool requestLowLatency(int fd);

// A serial port, 8 data bits, no parity, one stop bit. A "COMn" name is resolved
// to its device at every open, so an adapter that was absent, or came back under
// another name, is found again; once found, its /dev/serial/by-id name is kept,
// so the same adapter is reopened wherever it is plugged in.
class QtSerialLink : public Link
{
    Q_OBJECT
public:
    // Bytes kept for a reader that never comes; older ones are dropped beyond it.
    static constexpr qint64 inputCap = 64 * 1024;

    explicit QtSerialLink(const QString &port, QObject *parent = nullptr);
    ~QtSerialLink() override;

    QString name() const override { return m_name; }
    void setBaud(int baud) override;
    int baud() const override { return m_baud; }

    bool open() override;
    void close() override;
    bool isOpen() const override { return m_port.isOpen(); }
    OpenFailure lastFailure() const override { return m_failure; }
    QString device() const override { return m_device; }

    void discardInput() override;
    void write(const QByteArray &bytes) override;
    QByteArray readAll() override;
    void setWakeAt(int bytes) override { m_wakeAt = bytes; }

    // Whether the driver took low-latency mode at the last successful open.
    bool lowLatency() const { return m_lowLatency; }
    qint64 buffered() const { return m_port.bytesAvailable(); }

private:
    QString deviceToOpen();
    void onReadyRead();
    void onErrorOccurred(QSerialPort::SerialPortError error);
    void loseLine();

    QSerialPort m_port;
    QString m_name;
    int m_comNumber = 0; // of a "COMn" name, else 0
    QString m_stable;    // the device found last, by its most lasting name
    QString m_device;
    int m_baud = 9600;
    int m_wakeAt = 1;
    OpenFailure m_failure = OpenFailure::None;
    bool m_lowLatency = false;
    // Errors raised inside our own open/close are that call's result, not line events.
    bool m_opening = false;
    bool m_closing = false;
};

} // namespace kc
