#pragma once

#include "protocol/Link.h"

#include <QByteArray>

#include <utility>

// A link that is always open and receives what the bench hands it, waking its
// reader as the real link does. It keeps no call log, so a long run measures
// the window and not the link.
class FeedLink : public kc::Link
{
    Q_OBJECT
public:
    using kc::Link::Link;

    QString name() const override { return QStringLiteral("COM1"); }
    void setBaud(int baud) override { m_baud = baud; }
    int baud() const override { return m_baud; }
    bool open() override { return true; }
    void close() override {}
    bool isOpen() const override { return true; }
    kc::OpenFailure lastFailure() const override { return kc::OpenFailure::None; }
    QString device() const override { return QStringLiteral("/dev/feed"); }
    void discardInput() override { m_buffer.clear(); }
    void write(const QByteArray &) override {}
    QByteArray readAll() override { return std::exchange(m_buffer, {}); }
    void setWakeAt(int bytes) override { m_wakeAt = bytes; }

    void deliver(const QByteArray &bytes)
    {
        m_buffer += bytes;
        if (m_wakeAt > 0 && m_buffer.size() >= m_wakeAt)
            emit arrived();
    }

private:
    int m_baud = 9600;
    int m_wakeAt = 1;
    QByteArray m_buffer;
};
