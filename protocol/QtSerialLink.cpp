#include "protocol/QtSerialLink.h"

#include "protocol/PortNaming.h"

#include <QFileInfo>
#include <QMetaObject>

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif
#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace kc {

bool requestLowLatency(int fd)
{
#ifdef Q_OS_LINUX
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0)
        return false;
    if (info.flags & ASYNC_LOW_LATENCY)
        return true;
    info.flags |= ASYNC_LOW_LATENCY;
    return ::ioctl(fd, TIOCSSERIAL, &info) == 0;
#else
    Q_UNUSED(fd);
    return false;
#endif
}

namespace {

// What a failed open means for the operator. Qt reports a lock held by another
// program and a device this user may not open alike, so ask the device itself.
OpenFailure failureOf(QSerialPort::SerialPortError error, const QString &device)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return OpenFailure::NoDevice;
    case QSerialPort::PermissionError:
#ifdef Q_OS_UNIX
        if (::access(QFile::encodeName(device).constData(), R_OK | W_OK) != 0)
            return OpenFailure::NoPermission;
#endif
        return OpenFailure::Busy;
    default:
        return OpenFailure::Other;
    }
}

} // namespace

QtSerialLink::QtSerialLink(const QString &port, QObject *parent)
    : Link(parent), m_name(port.trimmed()), m_comNumber(comNumber(port))
{
    connect(&m_port, &QSerialPort::readyRead, this, &QtSerialLink::onReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialLink::onErrorOccurred);
}

QtSerialLink::~QtSerialLink()
{
    // The port outlives this destructor's body; its closing errors must not reach us.
    m_port.disconnect(this);
    if (m_port.isOpen())
        m_port.close();
}

void QtSerialLink::setBaud(int baud)
{
    m_baud = baud;
    if (m_port.isOpen())
        m_port.setBaudRate(baud);
}

QString QtSerialLink::deviceToOpen()
{
    QString path;
    if (!m_stable.isEmpty())
        path = m_stable; // the adapter found before, and no other
    else if (m_comNumber > 0)
        path = portDevice(m_comNumber);
    else
        path = m_name;
#ifdef Q_OS_WIN
    return path;
#else
    if (path.isEmpty())
        return path;
    // QSerialPort's lock file is named after the path it opens; with the real name, a
    // device reached through an alias (/dev/serial/by-id/..., a symlink to a
    // pseudo-terminal) is still seen as busy when another link holds it.
    const QString target = QFileInfo(path).canonicalFilePath();
    return target.isEmpty() ? path : target;
#endif
}

bool QtSerialLink::open()
{
    if (m_port.isOpen())
        return false;
    m_device = deviceToOpen();
    if (m_device.isEmpty()) {
        m_failure = OpenFailure::NoDevice;
        return false;
    }
    m_port.setPortName(m_device);
    m_port.setBaudRate(m_baud);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);

    m_opening = true;
    const bool opened = m_port.open(QIODevice::ReadWrite);
    m_opening = false;
    m_failure = opened ? OpenFailure::None : failureOf(m_port.error(), m_device);
    // A failed open leaves its error behind; the next open must start clean.
    m_port.clearError();
    if (!opened)
        return false;
    if (m_stable.isEmpty())
        m_stable = lastingDeviceName(m_device);

    m_lowLatency = false;
#ifdef Q_OS_LINUX
    // Without it some USB adapters hold received bytes back for several milliseconds.
    m_lowLatency = requestLowLatency(m_port.handle());
#endif
    return true;
}

void QtSerialLink::close()
{
    if (!m_port.isOpen())
        return;
    m_closing = true;
    m_port.close();
    m_closing = false;
    m_port.clearError();
}

void QtSerialLink::discardInput()
{
    if (m_port.isOpen())
        m_port.clear(QSerialPort::Input);
}

void QtSerialLink::write(const QByteArray &bytes)
{
    if (m_port.isOpen())
        m_port.write(bytes);
}

QByteArray QtSerialLink::readAll()
{
    if (!m_port.isOpen())
        return {};
    // Qt hands the few bytes read inside a 64 KiB buffer; whoever keeps them
    // (the traffic log, a trace) must not keep the buffer too.
    QByteArray bytes = m_port.readAll();
    bytes.squeeze();
    return bytes;
}

void QtSerialLink::onReadyRead()
{
    // With a reader that never comes the buffer would grow for as long as the far
    // end talks; the oldest bytes go first.
    const qint64 excess = m_port.bytesAvailable() - inputCap;
    if (excess > 0)
        m_port.skip(excess);
    if (m_wakeAt > 0 && m_port.bytesAvailable() >= m_wakeAt)
        emit arrived();
}

// Qt 6 no longer reports parity, framing or break conditions; only a lost device
// is a line event.
void QtSerialLink::onErrorOccurred(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::NoError:
    case QSerialPort::TimeoutError:
    // Modem-line requests fail this way on pseudo-terminals; the line still works.
    case QSerialPort::UnsupportedOperationError:
    // Misuse of the port object (open twice, use while closed), not a line state.
    case QSerialPort::OpenError:
    case QSerialPort::NotOpenError:
        return;
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::PermissionError:
    case QSerialPort::WriteError:
    case QSerialPort::ReadError:
    case QSerialPort::ResourceError:
    case QSerialPort::UnknownError:
        if (m_opening || m_closing || !m_port.isOpen())
            return;
        loseLine();
        return;
    }
}

void QtSerialLink::loseLine()
{
    // Close at the first error: a vanished device otherwise keeps the read notifier
    // firing and Qt reports the same error in a tight loop.
    close();
    // Delivered from the event loop, so a handler that hit the error in the middle of
    // a call (a write, a discard) finishes before the line is seen lost.
    QMetaObject::invokeMethod(this, &QtSerialLink::lost, Qt::QueuedConnection);
}

} // namespace kc
