#include "protocol/QtSerialLink.h"

#include "protocol/PortNaming.h"

#include <QFileInfo>
#include <QMetaObject>

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
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

QString deviceToOpen(const QString &path)
{
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

} // namespace

QtSerialLink::QtSerialLink(QObject *parent) : SerialLink(parent)
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

int QtSerialLink::baudRate(const QString &settings)
{
    bool ok = false;
    const int baud = settings.section(QLatin1Char(','), 0, 0).trimmed().toInt(&ok);
    return ok && baud > 0 ? baud : 0;
}

void QtSerialLink::setCommPort(int number)
{
    m_number = number;
}

void QtSerialLink::setSettings(const QString &settings)
{
    m_settings = settings;
    const int baud = baudRate(settings);
    if (m_port.isOpen() && baud > 0)
        m_port.setBaudRate(baud);
}

bool QtSerialLink::open()
{
    if (m_port.isOpen())
        return false;
    m_device = deviceToOpen(m_fixedDevice.isEmpty() ? portDevice(m_number) : m_fixedDevice);
    const int baud = baudRate(m_settings);
    if (m_device.isEmpty() || baud == 0)
        return false;

    m_port.setPortName(m_device);
    m_port.setBaudRate(baud);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);

    m_opening = true;
    const bool opened = m_port.open(QIODevice::ReadWrite);
    m_opening = false;
    // A failed open leaves its error behind; the next open must start clean.
    m_port.clearError();
    if (!opened)
        return false;

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

void QtSerialLink::discardOutput()
{
    if (m_port.isOpen())
        m_port.clear(QSerialPort::Output);
}

void QtSerialLink::output(const QByteArray &frame)
{
    if (m_port.isOpen())
        m_port.write(frame);
}

QByteArray QtSerialLink::input()
{
    if (!m_port.isOpen())
        return {};
    return m_port.readAll();
}

void QtSerialLink::onReadyRead()
{
    // With no threshold armed, or a handler that never reads, the buffer would grow
    // for as long as the far end talks; the oldest bytes go first.
    const qint64 excess = m_port.bytesAvailable() - inputCap;
    if (excess > 0)
        m_port.skip(excess);
    if (m_rThreshold > 0 && m_port.bytesAvailable() >= m_rThreshold)
        raise(CommEventCode::Receive);
}

// Qt 6 no longer reports parity, framing or break conditions, so RxParity, Frame and
// Break never arise here.
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
    // a call (a write, a discard) finishes before the receiver sees the lost line.
    QMetaObject::invokeMethod(
        this, [this] { raise(CommEventCode::LineLost); }, Qt::QueuedConnection);
}

void QtSerialLink::raise(int code)
{
    m_event = code;
    emit comm();
}

} // namespace kc
