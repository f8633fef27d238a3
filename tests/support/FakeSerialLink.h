#pragma once

#include "protocol/SerialLink.h"

#include <QSet>
#include <QStringList>

#include <functional>

// Records every call as one line ("rThreshold=6", "write 01 03 ...") and lets
// a test decide which ports exist, deliver bytes and lose the line.
class FakeSerialLink : public kc::SerialLink
{
public:
    // Ports that open; every other number fails like a missing port.
    QSet<int> presentPorts{1};
    QStringList calls;
    QStringList written; // each frame as upper-case hex
    // Bytes that reach the port while the window reads it (inside input()).
    QByteArray arrivingDuringInput;
    // Called with each frame written, e.g. to answer it later.
    std::function<void(const QByteArray &)> onOutput;

    void setCommPort(int number) override { log("commPort", m_port = number); }
    int commPort() const override { return m_port; }
    void setSettings(const QString &settings) override;
    QString settings() const override { return m_settings; }
    bool open() override;
    void close() override;
    bool isOpen() const override { return m_open; }
    void setInputMode(int mode) override { log("inputMode", mode); }
    void setInputLen(int length) override { log("inputLen", length); }
    void discardInput() override;
    void discardOutput() override { calls << QStringLiteral("discardOutput"); }
    void setSThreshold(int bytes) override { log("sThreshold", bytes); }
    void setRThreshold(int bytes) override { log("rThreshold", m_rThreshold = bytes); }
    int rThreshold() const override { return m_rThreshold; }
    void output(const QByteArray &frame) override;
    QByteArray input() override;
    int commEvent() const override { return m_event; }

    // Appends to the input buffer and raises a receive event once the
    // threshold is reached, as the real link does.
    void deliver(const QByteArray &bytes);
    // The far end vanished: the port closes and a line-lost event follows.
    void loseLine();
    QByteArray buffered() const { return m_buffer; }

private:
    void log(const char *what, int value) { calls << QStringLiteral("%1=%2").arg(what).arg(value); }
    void raise(int code);

    int m_port = 0;
    QString m_settings;
    bool m_open = false;
    int m_rThreshold = 0;
    int m_event = kc::CommEventCode::None;
    QByteArray m_buffer;
};
