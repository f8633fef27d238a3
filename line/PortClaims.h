#pragma once

#include <QHash>
#include <QObject>
#include <QString>

namespace kc {

// The device a port text names, as one name: "COM3" through its mapping, a
// path through its symlinks. A device that is not there keeps the path given.
QString portIdentity(const QString &port);

// The name to reopen a port by after its adapter was pulled: its
// /dev/serial/by-id name when it has one (the same adapter, wherever it is
// plugged in), else the device path ("COM3" itself would count again through
// whatever adapters remain).
QString stableDevice(const QString &port);

// Which ports a tool window is using, so the main window leaves them alone
// until it is done: one port has one master at a time.
class PortClaims : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // identity: portIdentity() of the port, taken once by the holder so a
    // pulled adapter is still given back under the name it was taken by.
    // refusal: what the main window says when asked to use the port. False
    // when another holder has the port.
    bool claim(const QString &identity, const QString &refusal);
    void release(const QString &identity);
    // The refusal for a request on port; empty when nobody holds it.
    QString refusal(const QString &port) const;
    bool isEmpty() const { return m_claims.isEmpty(); }

signals:
    void claimed(const QString &identity);
    void released(const QString &identity);

private:
    QHash<QString, QString> m_claims; // identity -> refusal
};

} // namespace kc
