#pragma once

#include "protocol/SerialLink.h"

#include <QSerialPort>

namespace kc {

// Asks the driver to pass received bytes on at once rather than after its usual
// batching delay, so a reply's last byte is not held back. False where the driver
// has no such mode (pseudo-terminals, some USB adapters, Windows).
bool requestLowLatency(int fd);

// The serial link on a real port. Receive events are emulated on readyRead: one
// comm() per arrival that leaves at least rThreshold() bytes buffered.
class QtSerialLink : public SerialLink
{
    Q_OBJECT
public:
    // Bytes kept for a reader that never comes; older ones are dropped beyond it.
    static constexpr qint64 inputCap = 64 * 1024;

    explicit QtSerialLink(QObject *parent = nullptr);
    ~QtSerialLink() override;

    void setCommPort(int number) override;
    // Opens this device path from now on, whatever the port number says.
    void setDevice(const QString &path) { m_fixedDevice = path; }
    int commPort() const override { return m_number; }
    void setSettings(const QString &settings) override;
    QString settings() const override { return m_settings; }

    bool open() override;
    void close() override;
    bool isOpen() const override { return m_port.isOpen(); }

    void setInputMode(int mode) override { m_inputMode = mode; }
    void setInputLen(int length) override { m_inputLen = length; }
    void discardInput() override;
    void discardOutput() override;
    void setSThreshold(int bytes) override { m_sThreshold = bytes; }
    void setRThreshold(int bytes) override { m_rThreshold = bytes; }
    int rThreshold() const override { return m_rThreshold; }

    void output(const QByteArray &frame) override;
    QByteArray input() override;
    int commEvent() const override { return m_event; }

    // Kept for the caller to read back; reads always return raw bytes, all of them,
    // and sending raises no events.
    int inputMode() const { return m_inputMode; }
    int inputLen() const { return m_inputLen; }
    int sThreshold() const { return m_sThreshold; }

    // Bytes waiting to be read.
    qint64 buffered() const { return m_port.bytesAvailable(); }

    // Whether the driver took low-latency mode at the last successful open.
    bool lowLatency() const { return m_lowLatency; }
    // The device the last open() tried; empty when no device was mapped.
    QString device() const { return m_device; }

    // The baud rate at the head of a settings text, 0 when there is none.
    static int baudRate(const QString &settings);

private:
    void onReadyRead();
    void onErrorOccurred(QSerialPort::SerialPortError error);
    void loseLine();
    void raise(int code);

    QSerialPort m_port;
    int m_number = 1;
    QString m_settings = QStringLiteral("9600,N,8,1");
    QString m_device;
    QString m_fixedDevice;
    int m_inputMode = 0;
    int m_inputLen = 0;
    int m_sThreshold = 0;
    int m_rThreshold = 0;
    int m_event = CommEventCode::None;
    bool m_lowLatency = false;
    // Errors raised inside our own open/close are that call's result, not line events.
    bool m_opening = false;
    bool m_closing = false;
};

} // namespace kc
