#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace kc {

// Whether the RS-485 adapter returns each request to the port before the
// reply, as one without automatic direction control does.
enum class EchoMode : std::uint8_t {
    Auto, // recognised when it comes
    On,   // expected after every request
    Off,  // never: whatever comes first is judged as the reply
};

// "auto", "on", "off": the key the CLI, the gateway and the settings use.
QString echoModeKey(EchoMode mode);
std::optional<EchoMode> echoModeFromKey(const QString &key);

// Takes a request's echo off the front of what comes back. A request whose
// normal reply repeats it (functions 5 and 6) cannot tell its echo from its
// reply by the bytes: in Auto such a copy counts as the echo only once a
// request with a reply of its own has shown that the adapter echoes.
class AdapterEcho
{
public:
    void setMode(EchoMode mode);
    EchoMode mode() const { return m_mode; }
    // The adapter echoes, as far as seen so far (always with On).
    bool echoes() const { return m_mode == EchoMode::On || m_learned; }

    // A request went out: its copy may lead what comes back.
    void sent(const QByteArray &frame);
    // Nothing more is awaited for the request sent.
    void stop();

    struct Step
    {
        QByteArray rest;      // what is not the echo, for the reply
        QByteArray echo = {}; // the whole echo, when it has just been taken off
    };
    // Bytes as they arrive. A beginning of the echo is held back until it is
    // whole or turns out to be something else.
    Step feed(const QByteArray &bytes);
    // The deadline passed: what is held goes to the reply after all.
    QByteArray release();

private:
    bool expectEcho() const;

    EchoMode m_mode = EchoMode::Auto;
    bool m_learned = false;
    QByteArray m_frame; // the request whose echo may still come
    QByteArray m_held;
};

} // namespace kc
