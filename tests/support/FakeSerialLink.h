#pragma once

#include "protocol/SerialLink.h"

#include <QSet>
#include <QStringList>

// Records every call as one line ("rThreshold=6", "write 01 03 ...") and lets
// a test decide which ports exist, deliver bytes and raise events.
class FakeSerialLink : public kc::SerialLink
{
    Q_OBJECT
public:
    explicit FakeSerialLink(QObject *parent = nullptr);

    // Ports that open; every other number fails like a missing port.
    QSet<int> presentPorts{1};
    bool failNextOpen = false;

    QStringList calls;
    QList<QByteArray> written;
    // Bytes that reach the port while the window reads it (inside input()).
    QByteArray arrivingDuringInput;

    void setCommPort(int number) override;
    int commPort() const override { return m_port; }
    void setSettings(const QString &settings) override;
    QString settings() const override { return m_settings; }
    bool open() override;
    void close() override;
    bool isOpen() const override { return m_open; }
    void setInputMode(int mode) override;
    void setInputLen(int length) override;
    void discardInput() override;
    void discardOutput() override;
    void setSThreshold(int bytes) override;
    void setRThreshold(int bytes) override;
    int rThreshold() const override { return m_rThreshold; }
    void output(const QByteArray &frame) override;
    QByteArray input() override;
    int commEvent() const override { return m_event; }

    // Appends to the input buffer and raises a receive event once the
    // threshold is reached, as the real link does.
    void deliver(const QByteArray &bytes);
    // Raises an event with any code, as a line fault would.
    void raise(int code);
    // The far end vanished: the port closes and a non-receive event follows.
    void loseLine();

    QByteArray buffered() const { return m_buffer; }
    void clearCalls()
    {
        calls.clear();
        written.clear();
    }

private:
    int m_port = 0;
    QString m_settings;
    bool m_open = false;
    int m_rThreshold = 0;
    int m_event = kc::CommEventCode::None;
    QByteArray m_buffer;
};
