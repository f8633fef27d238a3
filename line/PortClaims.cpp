#include "line/PortClaims.h"

#include "line/LineEngine.h"
#include "protocol/PortNaming.h"
#include "protocol/QtSerialLink.h"
#include "protocol/TcpLink.h"

namespace kc {

Link *systemLink(const QString &port)
{
    // Decided once, when the link is made: the environment names a COMn's
    // network line for the whole run.
    if (const auto address = networkLine(port))
        return new TcpLink(*address, port);
    return new QtSerialLink(port);
}

PortClaims::PortClaims(LinkFactory links, QObject *parent)
    : QObject(parent), m_links(links ? std::move(links) : LinkFactory(systemLink))
{
}

PortClaims::~PortClaims()
{
    for (const Claim &c : std::as_const(m_claims))
        disconnect(c.ownerGone);
}

LineEngine *PortClaims::claim(const QString &port, Holder holder, QObject *owner)
{
    const QString identity = portIdentity(port);
    auto held = m_claims.constFind(identity);
    if (held != m_claims.constEnd() && held->holder == Holder::MainWindow &&
        holder != Holder::MainWindow)
        emit yieldWanted(identity);
    if (m_claims.contains(identity))
        return nullptr;
    auto *engine = new LineEngine(m_links(port), m_clock, this);
    Claim c{holder, engine, {}};
    c.ownerGone = connect(owner, &QObject::destroyed, this, [this, engine] { release(engine); });
    m_claims.insert(identity, c);
    emit engineMade(engine);
    if (holder != Holder::MainWindow)
        emit claimed(identity, holder);
    return engine;
}

void PortClaims::release(LineEngine *engine)
{
    for (auto it = m_claims.begin(); it != m_claims.end(); ++it) {
        if (it->engine != engine)
            continue;
        const QString identity = it.key();
        const Holder holder = it->holder;
        disconnect(it->ownerGone);
        m_claims.erase(it);
        engine->close();
        // From here on nothing the line says is anybody's.
        engine->disconnect();
        engine->deleteLater();
        emit released(identity, holder);
        return;
    }
}

std::optional<Holder> PortClaims::holderOf(const QString &port) const
{
    const auto it = m_claims.constFind(portIdentity(port));
    if (it == m_claims.constEnd())
        return std::nullopt;
    return it->holder;
}

} // namespace kc
