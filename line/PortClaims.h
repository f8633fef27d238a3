#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

namespace kc {

class LineEngine;
class Link;

// Who holds a port.
enum class Holder {
    MainWindow,
    Monitor,
    BusScan,
    Commissioning,
    Snapshot,
    Gateway,
    Diagnosis,
    Listening,
};

// Every port the program talks on is taken here, so one port has one master at
// a time. A holder gets a line engine of its own on the port. The main window
// holds its port only until a tool asks for it: it is asked to yield first,
// and told when the port is free again.
class PortClaims : public QObject
{
    Q_OBJECT
public:
    // The link for a port ("COM3", a device path, a network address); the default is the system's.
    using LinkFactory = std::function<Link *(const QString &port)>;

    explicit PortClaims(LinkFactory links = {}, QObject *parent = nullptr);
    ~PortClaims() override;

    // Monotonic milliseconds for the engines made from now on.
    void setClock(std::function<double()> clock) { m_clock = std::move(clock); }

    // The port for holder, its engine's link not yet open; nullptr while
    // another holds it. The claim ends with release(), or when owner goes.
    LineEngine *claim(const QString &port, Holder holder, QObject *owner);
    // Gives the port back: the engine is closed and goes once control is back
    // in the event loop, as one of its signals may be running.
    void release(LineEngine *engine);
    // Who holds the port, if anyone.
    std::optional<Holder> holderOf(const QString &port) const;

signals:
    // A tool wants the port the main window holds: release it now.
    void yieldWanted(const QString &identity);
    void claimed(const QString &identity, kc::Holder holder);
    void released(const QString &identity, kc::Holder holder);
    // A new engine, for whoever shows every line's traffic.
    void engineMade(kc::LineEngine *engine);

private:
    struct Claim
    {
        Holder holder;
        QPointer<LineEngine> engine;
        QMetaObject::Connection ownerGone;
    };

    LinkFactory m_links;
    std::function<double()> m_clock;
    QHash<QString, Claim> m_claims; // by port identity
};

// The default links: a serial port for "COMn" or a device path; a network
// link for "tcp://HOST:PORT", "modbus-tcp://HOST:PORT", or a COMn whose
// KC4420_COMn names one.
Link *systemLink(const QString &port);

} // namespace kc
