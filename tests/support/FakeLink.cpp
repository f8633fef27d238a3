#include "support/FakeLink.h"

#include <utility>

void FakeLink::setBaud(int baud)
{
    m_baud = baud;
    calls << QStringLiteral("baud=%1").arg(baud);
}

bool FakeLink::open()
{
    calls << QStringLiteral("open");
    if (m_open || !m_present || refuseWith != kc::OpenFailure::None) {
        m_failure = m_open       ? kc::OpenFailure::Busy
                    : !m_present ? kc::OpenFailure::NoDevice
                                 : refuseWith;
        return false;
    }
    m_failure = kc::OpenFailure::None;
    return m_open = true;
}

void FakeLink::close()
{
    calls << QStringLiteral("close");
    m_open = false;
}

void FakeLink::discardInput()
{
    m_buffer.clear();
}

void FakeLink::write(const QByteArray &bytes)
{
    written << QString::fromLatin1(bytes.toHex(' ').toUpper());
    calls << QStringLiteral("write ") + written.last();
    if (onWrite)
        onWrite(bytes);
}

QByteArray FakeLink::readAll()
{
    return std::exchange(m_buffer, std::exchange(arrivingDuringRead, {}));
}

void FakeLink::deliver(const QByteArray &bytes)
{
    m_buffer += bytes;
    if (m_wakeAt > 0 && m_buffer.size() >= m_wakeAt)
        emit arrived();
}

void FakeLink::loseLine(kc::OpenFailure why)
{
    m_open = false;
    m_failure = why;
    m_buffer.clear();
    emit lost();
}
