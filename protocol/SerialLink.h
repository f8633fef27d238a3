#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace kc {

// Event codes delivered with comm(). Only Receive is decoded; every other
// code is counted by the receiver and otherwise ignored.
namespace CommEventCode {
constexpr int None = 0;
constexpr int Receive = 2;     // receive threshold reached
constexpr int Break = 1001;    // break signal on the line
constexpr int Frame = 1004;    // framing error
constexpr int Overrun = 1006;  // hardware overrun
constexpr int RxParity = 1009; // parity error
constexpr int LineLost = 1011; // the device vanished or stopped answering reads
} // namespace CommEventCode

// The serial port as the window uses it. Settings are accepted while the port
// is closed and take effect at the next open, so a request can always prepare
// the port before it asks whether the port is open.
class SerialLink : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~SerialLink() override = default;

    virtual void setCommPort(int number) = 0;
    virtual int commPort() const = 0;

    // "9600,N,8,1": the baud rate followed by the fixed line format.
    virtual void setSettings(const QString &settings) = 0;
    virtual QString settings() const = 0;

    virtual bool open() = 0; // false when the port is missing or busy
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    virtual void setInputMode(int mode) = 0;  // 1 = raw bytes
    virtual void setInputLen(int length) = 0; // 0 = a read returns everything
    virtual void discardInput() = 0;
    virtual void discardOutput() = 0;
    virtual void setSThreshold(int bytes) = 0;
    virtual void setRThreshold(int bytes) = 0; // 0 = no receive events
    virtual int rThreshold() const = 0;

    virtual void output(const QByteArray &frame) = 0;
    virtual QByteArray input() = 0;
    virtual int commEvent() const = 0;

signals:
    // Raised for every port event; commEvent() tells which.
    void comm();
};

} // namespace kc
