#pragma once

#include "line/PortClaims.h"
#include "line/PortPoller.h"
#include "operations/Messages.h"
#include "protocol/PortNaming.h"

#include <QDateTime>
#include <QMap>
#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kc {

class Recorder;

// "1-5,7": stations 1 to 250, each once, in the order given; nothing when the
// text is not such a list.
std::optional<QVector<int>> parseStations(const QString &text);

// How a module's row looks: red once it stopped answering or its port is
// lost, amber while a reading is outside the module's own limits.
enum class RowTone { Normal, Dead, Alarm };
RowTone rowTone(const WatchedModule &module);

// The modules watched on several ports at once: one poller per port, all
// polling in parallel. While it runs it holds its ports, so no other tool or
// the main window uses them; every poll goes to the recorder.
class Monitor : public QObject
{
    Q_OBJECT
public:
    explicit Monitor(PortClaims *claims, QObject *parent = nullptr);
    ~Monitor() override;

    // The list, changed while stopped. A port keeps the baud rate its first module came with.
    std::optional<UserMessage> add(const QString &port, const QString &stations, int baud);
    void remove(int row);
    void clear();
    int rowCount() const { return int(m_modules.size()); }
    const WatchedModule &module(int row) const { return *m_modules[std::size_t(row)]; }
    int baudOf(const QString &port) const { return m_baud.value(port, 9600); }
    // Who holds a port the monitor could not take.
    std::optional<Holder> heldBy(const QString &port) const { return m_heldBy.value(port); }

    // {"ports":[{"port":"COM3","baud":19200,"stations":[1,2,3]}]}
    QByteArray listJson() const;
    // Replaces the list; the message when the text is not such a list (the list is kept then).
    std::optional<UserMessage> loadList(const QByteArray &json);

    void setTimeout(int ms) { m_timeoutMs = ms; }
    void setCyclePeriod(int ms) { m_cycleMs = ms; }
    int cyclePeriod() const { return m_cycleMs; }
    // One port's own period, in place of the one for all; from the next start.
    void setCyclePeriod(const QString &port, int ms);
    // Whom the ports are claimed for: the monitor window, or a service polling as it does.
    void setHolder(Holder holder) { m_holder = holder; }
    // Monotonic milliseconds for the pollers, the wall clock for "last seen".
    void setClocks(std::function<double()> ms, std::function<QDateTime()> wall);
    void setRecorder(Recorder *recorder) { m_recorder = recorder; }

    void start();
    void stop();
    bool running() const { return m_running; }
    // Polls a second: as counted since the start once it has run a second,
    // else what the wire allows polling back to back (or one a cycle period).
    double pollsPerSecond() const;
    PortPoller *poller(const QString &port) const { return m_pollers.value(portKey(port)); }

signals:
    // A module's turn is over (after the recorder has it).
    void polled(const kc::WatchedModule &module, const kc::Outcome &outcome);
    // A port was lost or would not open (after the recorder has it), and is
    // polling again; its rows' line states say which.
    void lineDown(const QString &port);
    void lineUp(const QString &port);
    void rowChanged(int row);
    void listChanged();
    void runningChanged(bool running);

private:
    void onPolled(WatchedModule *module, const Outcome &outcome);
    void onLineDown(const QString &port);
    void renumber();

    PortClaims *m_claims;
    std::function<double()> m_msClock;
    std::function<QDateTime()> m_wallClock;
    std::vector<std::unique_ptr<WatchedModule>> m_modules;
    QMap<QString, int> m_baud;
    QMap<QString, PortPoller *> m_pollers;
    QMap<QString, std::optional<Holder>> m_heldBy;
    QMap<QString, int> m_portCycleMs;
    Holder m_holder = Holder::Monitor;
    Recorder *m_recorder = nullptr;
    int m_timeoutMs = defaultTimeoutMs;
    int m_cycleMs = 0;
    bool m_running = false;
    double m_startedMs = 0;
    long long m_polls = 0;
};

} // namespace kc
