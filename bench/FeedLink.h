#pragma once

#include "protocol/SerialLink.h"

#include <QByteArray>

#include <utility>

// A link that is always open and receives what the bench hands it, raising receive
// events as the real link does. It keeps no call log, so a long run measures the
// window and not the link.
class FeedLink : public kc::SerialLink
{
    Q_OBJECT
public:
    using kc::SerialLink::SerialLink;

    void setCommPort(int number) override { m_port = number; }
    int commPort() const override { return m_port; }
    void setSettings(const QString &settings) override { m_settings = settings; }
    QString settings() const override { return m_settings; }
    bool open() override { return true; }
    void close() override {}
    bool isOpen() const override { return true; }
    void setInputMode(int) override {}
    void setInputLen(int) override {}
    void discardInput() override { m_buffer.clear(); }
    void discardOutput() override {}
    void setSThreshold(int) override {}
    void setRThreshold(int bytes) override { m_threshold = bytes; }
    int rThreshold() const override { return m_threshold; }
    void output(const QByteArray &) override {}
    QByteArray input() override { return std::exchange(m_buffer, {}); }
    int commEvent() const override { return kc::CommEventCode::Receive; }

    void deliver(const QByteArray &bytes)
    {
        m_buffer += bytes;
        if (m_threshold > 0 && m_buffer.size() >= m_threshold)
            emit comm();
    }

private:
    int m_port = 1;
    QString m_settings;
    int m_threshold = 0;
    QByteArray m_buffer;
};
