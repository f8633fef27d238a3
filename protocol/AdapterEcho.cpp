#include "protocol/AdapterEcho.h"

#include <algorithm>
#include <utility>

namespace kc {

namespace {

// Writes of one coil or register are answered with a copy of the request.
bool replyRepeatsRequest(const QByteArray &frame)
{
    return frame.size() > 1 && (frame[1] == 0x05 || frame[1] == 0x06);
}

} // namespace

QString echoModeKey(EchoMode mode)
{
    switch (mode) {
    case EchoMode::On:
        return QStringLiteral("on");
    case EchoMode::Off:
        return QStringLiteral("off");
    case EchoMode::Auto:
        break;
    }
    return QStringLiteral("auto");
}

std::optional<EchoMode> echoModeFromKey(const QString &key)
{
    for (const EchoMode mode : {EchoMode::Auto, EchoMode::On, EchoMode::Off}) {
        if (key == echoModeKey(mode))
            return mode;
    }
    return std::nullopt;
}

void AdapterEcho::setMode(EchoMode mode)
{
    m_mode = mode;
    m_learned = false;
    stop();
}

void AdapterEcho::sent(const QByteArray &frame)
{
    m_held.clear();
    m_frame = frame;
    if (!expectEcho())
        m_frame.clear();
}

void AdapterEcho::stop()
{
    m_frame.clear();
    m_held.clear();
}

bool AdapterEcho::expectEcho() const
{
    switch (m_mode) {
    case EchoMode::On:
        return true;
    case EchoMode::Auto:
        return m_learned || !replyRepeatsRequest(m_frame);
    case EchoMode::Off:
        break;
    }
    return false;
}

AdapterEcho::Step AdapterEcho::feed(const QByteArray &bytes)
{
    if (m_frame.isEmpty())
        return {bytes};
    m_held += bytes;
    const qsizetype n = std::min(m_held.size(), m_frame.size());
    if (m_held.left(n) != m_frame.left(n)) {
        // A reply of its own came first: in Auto, this adapter does not echo.
        if (m_mode == EchoMode::Auto && !replyRepeatsRequest(m_frame))
            m_learned = false;
        m_frame.clear();
        return {std::exchange(m_held, {})};
    }
    if (m_held.size() < m_frame.size())
        return {};
    if (m_mode == EchoMode::Auto)
        m_learned = true;
    Step step{m_held.mid(m_frame.size()), m_frame};
    stop();
    return step;
}

QByteArray AdapterEcho::release()
{
    m_frame.clear();
    return std::exchange(m_held, {});
}

} // namespace kc
