#include "line/PortClaims.h"

#include "protocol/PortNaming.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace kc {

namespace {

QString devicePath(const QString &port)
{
    static const QRegularExpression com(QStringLiteral("^\\s*COM(\\d+)\\s*$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = com.match(port);
    if (!m.hasMatch())
        return port.trimmed();
    // An entry with no device behind it is still a port of its own.
    const QString device = portDevice(m.captured(1).toInt());
    return device.isEmpty() ? port.trimmed().toUpper() : device;
}

} // namespace

QString portIdentity(const QString &port)
{
    const QString path = devicePath(port);
    const QString target = QFileInfo(path).canonicalFilePath();
    return target.isEmpty() ? path : target;
}

QString stableDevice(const QString &port)
{
    const QString path = devicePath(port);
    const QString target = QFileInfo(path).canonicalFilePath();
    if (target.isEmpty())
        return path;
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo &alias : byId.entryInfoList(QDir::System | QDir::Files)) {
        if (alias.canonicalFilePath() == target)
            return alias.absoluteFilePath();
    }
    return path;
}

bool PortClaims::claim(const QString &identity, const QString &refusal)
{
    const auto held = m_claims.constFind(identity);
    if (held != m_claims.constEnd())
        return *held == refusal;
    m_claims.insert(identity, refusal);
    emit claimed(identity);
    return true;
}

void PortClaims::release(const QString &identity)
{
    if (m_claims.remove(identity) > 0)
        emit released(identity);
}

QString PortClaims::refusal(const QString &port) const
{
    if (m_claims.isEmpty())
        return {};
    return m_claims.value(portIdentity(port));
}

} // namespace kc
