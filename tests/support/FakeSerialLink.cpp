#include "support/FakeSerialLink.h"

#include <utility>

void FakeSerialLink::setSettings(const QString &settings)
{
    m_settings = settings;
    calls << QStringLiteral("settings=") + settings;
}

bool FakeSerialLink::open()
{
    calls << QStringLiteral("open");
    if (m_open || !presentPorts.contains(m_port))
        return false; // already open (busy) or missing
    return m_open = true;
}

void FakeSerialLink::close()
{
    calls << QStringLiteral("close");
    m_open = false;
}

void FakeSerialLink::discardInput()
{
    calls << QStringLiteral("discardInput");
    m_buffer.clear();
}

void FakeSerialLink::output(const QByteArray &frame)
{
    written << QString::fromLatin1(frame.toHex(' ').toUpper());
    calls << QStringLiteral("write ") + written.last();
    if (onOutput)
        onOutput(frame);
}

QByteArray FakeSerialLink::input()
{
    calls << QStringLiteral("input");
    return std::exchange(m_buffer, std::exchange(arrivingDuringInput, {}));
}

void FakeSerialLink::deliver(const QByteArray &bytes)
{
    m_buffer += bytes;
    if (m_rThreshold > 0 && m_buffer.size() >= m_rThreshold)
        raise(kc::CommEventCode::Receive);
}

void FakeSerialLink::raise(int code)
{
    m_event = code;
    emit comm();
}

void FakeSerialLink::loseLine()
{
    m_open = false;
    m_buffer.clear();
    raise(kc::CommEventCode::LineLost);
}
