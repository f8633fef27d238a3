#pragma once

#include "protocol/Link.h"

#include <QMap>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <functional>

// Records every call as one line ("baud=9600", "open", "write 01 03 ...") and
// lets a test deliver bytes and lose the line.
class FakeLink : public kc::Link
{
public:
    explicit FakeLink(QString name = QStringLiteral("COM1"), bool present = true)
        : m_name(std::move(name)), m_present(present)
    {
    }

    QStringList calls;
    QStringList written; // each frame as upper-case hex
    // Bytes that reach the port while it is read (inside readAll()).
    QByteArray arrivingDuringRead;
    // Set: every open fails for this reason.
    kc::OpenFailure refuseWith = kc::OpenFailure::None;
    bool silence = true; // false: a link that frames its messages itself
    // Called with each frame written, e.g. to answer it later.
    std::function<void(const QByteArray &)> onWrite;

    QString name() const override { return m_name; }
    void setBaud(int baud) override;
    int baud() const override { return m_baud; }
    bool open() override;
    void close() override;
    bool isOpen() const override { return m_open; }
    kc::OpenFailure lastFailure() const override { return m_failure; }
    QString device() const override { return m_present ? QStringLiteral("/dev/fake") : QString(); }
    void discardInput() override;
    void write(const QByteArray &bytes) override;
    QByteArray readAll() override;
    void setWakeAt(int bytes) override { m_wakeAt = bytes; }
    bool needsSilence() const override { return silence; }

    // Appends to the input and says so once the wake count is reached, as the
    // real link does.
    void deliver(const QByteArray &bytes);
    // The far end vanished: the port closes and the loss is reported.
    void loseLine(kc::OpenFailure why = kc::OpenFailure::None);
    QByteArray buffered() const { return m_buffer; }
    int wakeAt() const { return m_wakeAt; }

private:
    QString m_name;
    bool m_present;
    int m_baud = 9600;
    bool m_open = false;
    kc::OpenFailure m_failure = kc::OpenFailure::None;
    int m_wakeAt = 1;
    QByteArray m_buffer;
};

// Makes the fake links a claims object opens, one per port, and keeps them for
// the test, after their engines are gone too: the ports in `present` open, the
// others fail as a missing device.
struct FakeLinks
{
    QSet<QString> present{QStringLiteral("COM1")};
    QMap<QString, QList<FakeLink *>> made; // every link made, by port, newest last
    std::function<void(FakeLink *)> onMade;
    QObject keeper; // owns them: an engine leaves a link with an owner alone

    std::function<kc::Link *(const QString &)> factory()
    {
        return [this](const QString &port) {
            auto *link = new FakeLink(port, present.contains(port));
            link->setParent(&keeper);
            made[port] << link;
            if (onMade)
                onMade(link);
            return link;
        };
    }
    FakeLink *last(const QString &port = QStringLiteral("COM1")) const
    {
        return made.value(port).isEmpty() ? nullptr : made.value(port).last();
    }
};
