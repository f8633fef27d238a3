#include "support/FakeSerialLink.h"

#include <utility>

FakeSerialLink::FakeSerialLink(QObject *parent) : kc::SerialLink(parent)
{
}

void FakeSerialLink::setCommPort(int number)
{
    m_port = number;
    calls << QStringLiteral("commPort=%1").arg(number);
}

void FakeSerialLink::setSettings(const QString &settings)
{
    m_settings = settings;
    calls << QStringLiteral("settings=%1").arg(settings);
}

bool FakeSerialLink::open()
{
    calls << QStringLiteral("open");
    if (m_open || failNextOpen || !presentPorts.contains(m_port)) {
        failNextOpen = false;
        return false;
    }
    m_open = true;
    return true;
}

void FakeSerialLink::close()
{
    calls << QStringLiteral("close");
    m_open = false;
}

void FakeSerialLink::setInputMode(int mode)
{
    calls << QStringLiteral("inputMode=%1").arg(mode);
}
void FakeSerialLink::setInputLen(int length)
{
    calls << QStringLiteral("inputLen=%1").arg(length);
}

void FakeSerialLink::discardInput()
{
    calls << QStringLiteral("discardInput");
    m_buffer.clear();
}

void FakeSerialLink::discardOutput()
{
    calls << QStringLiteral("discardOutput");
}
void FakeSerialLink::setSThreshold(int bytes)
{
    calls << QStringLiteral("sThreshold=%1").arg(bytes);
}

void FakeSerialLink::setRThreshold(int bytes)
{
    m_rThreshold = bytes;
    calls << QStringLiteral("rThreshold=%1").arg(bytes);
}

void FakeSerialLink::output(const QByteArray &frame)
{
    calls << QStringLiteral("write %1").arg(QString::fromLatin1(frame.toHex(' ').toUpper()));
    written << frame;
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
