#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace kc {

// Why a link would not open, as far as the system says.
enum class OpenFailure {
    None,
    NoDevice,     // nothing behind the name
    NoPermission, // the device is there but this user may not open it
    Busy,         // another program holds it
    Other,
    // A network line's connection:
    Timeout, // no answer from the host within the connect timeout
    Refused, // the host is there but nothing listens at the port
    NoHost,  // no such host name
};

// A line to the modules: a serial port here, a network connection elsewhere.
// The engine asks it for bytes; it says when bytes arrived and when the line
// went away.
class Link : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~Link() override = default;

    // The port as the operator named it ("COM1", a device path), for logs.
    virtual QString name() const = 0;
    // A serial link takes the rate at once when open, else at the next open.
    virtual void setBaud(int baud) = 0;
    virtual int baud() const = 0;

    // A network link returns at once and connects behind it, so nothing waits
    // seconds for a host: connected() follows, or lost() with lastFailure().
    virtual bool open() = 0;
    virtual void close() = 0;
    // From open() to close() or loss, connecting included.
    virtual bool isOpen() const = 0;
    // Open but not yet connected: nothing can be written yet.
    virtual bool connecting() const { return false; }
    // Why the last open failed.
    virtual OpenFailure lastFailure() const = 0;
    // The device the last open tried, for messages; empty when none was found.
    virtual QString device() const = 0;

    virtual void discardInput() = 0;
    virtual void write(const QByteArray &bytes) = 0;
    virtual QByteArray readAll() = 0;
    // arrived() comes once at least this many bytes wait to be read.
    virtual void setWakeAt(int bytes) = 0;

    // False where the line's rate is not ours to set (a serial device server's
    // own settings); the rate is then only the engine's estimate of wire times.
    virtual bool setsRate() const { return true; }
    // False where frames are delimited by the link itself (Modbus TCP), so the
    // line needs no silence between them.
    virtual bool needsSilence() const { return true; }

signals:
    void arrived();
    void connected();
    // Bytes that came back but are no answer to the request in flight (another
    // transaction, a length that lies); they are not in readAll().
    void noAnswer(const QByteArray &bytes);
    // The device or connection went away; the link has closed itself.
    void lost();
};

} // namespace kc
