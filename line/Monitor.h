#pragma once

#include "line/PortPoller.h"
#include "operations/Messages.h"

#include <QDateTime>
#include <QMap>
#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kc {

class DataLog;
class PortClaims;
class SerialLink;
class TrendStore;
struct LogRow;

// "1-5,7": stations 1 to 250, each once, in the order given; nothing when the text is not such a
// list.
std::optional<QVector<int>> parseStations(const QString &text);

// How a module's row looks: red once it stopped answering or its port is
// lost, amber while a reading is outside the module's own limits.
enum class RowTone { Normal, Dead, Alarm };
RowTone rowTone(const WatchedModule &module);

// A module's row in words: port, station, device text, temperature, humidity,
// alarm state, last outcome, response time, answered, no reply, errors, last seen.
QStringList rowTexts(const WatchedModule &module);

// The modules watched on several ports at once: one poller per port, all
// polling in parallel. While it runs it holds its ports, so the main window
// leaves them alone; every poll can go to the data log and the trend.
class Monitor : public QObject
{
    Q_OBJECT
public:
    // The serial link for a port ("COM3", a device path); the default opens
    // the port's device by a name that finds the same adapter again.
    using LinkFactory = std::function<SerialLink *(const QString &port)>;

    explicit Monitor(PortClaims *claims, LinkFactory links = {}, QObject *parent = nullptr);
    ~Monitor() override;

    // The list, changed while stopped. A port keeps the baud rate its first module came with.
    std::optional<UserMessage> add(const QString &port, const QString &stations, int baud);
    void remove(int row);
    void clear();
    int rowCount() const { return int(m_modules.size()); }
    const WatchedModule &module(int row) const { return *m_modules[std::size_t(row)]; }
    int baudOf(const QString &port) const { return m_baud.value(port, 9600); }

    // {"ports":[{"port":"COM3","baud":19200,"stations":[1,2,3]}]}
    QByteArray listJson() const;
    // Replaces the list; the message when the text is not such a list (the list is kept then).
    std::optional<UserMessage> loadList(const QByteArray &json);

    void setTimeout(int ms) { m_timeoutMs = ms; }
    void setCyclePeriod(int ms) { m_cycleMs = ms; }
    int cyclePeriod() const { return m_cycleMs; }
    // Monotonic milliseconds for the pollers, the wall clock for samples.
    void setClocks(std::function<double()> ms, std::function<QDateTime()> wall);
    void setDataLog(DataLog *log) { m_log = log; }
    void setTrend(TrendStore *trend) { m_trend = trend; }

    void start();
    void stop();
    bool running() const { return m_running; }
    PortPoller *poller(const QString &port) const { return m_pollers.value(port); }

    // The trend's name for a module.
    static QString sourceKey(const QString &port, int station);

signals:
    void rowChanged(int row);
    void listChanged();
    void runningChanged(bool running);
    // The data log refused a row; logging stops until switched on again.
    void logFailed(const QString &why);

private:
    void onPolled(WatchedModule *module, const Outcome &outcome);
    void onLineDown(const QString &port);
    void writeLog(const LogRow &row);
    void renumber();

    PortClaims *m_claims;
    LinkFactory m_links;
    std::function<double()> m_msClock;
    std::function<QDateTime()> m_wallClock;
    std::vector<std::unique_ptr<WatchedModule>> m_modules;
    QMap<QString, int> m_baud;
    QMap<QString, PortPoller *> m_pollers;
    QMap<QString, QString> m_claimed; // port -> identity it was claimed by
    DataLog *m_log = nullptr;
    TrendStore *m_trend = nullptr;
    int m_timeoutMs = defaultTimeoutMs;
    int m_cycleMs = 0;
    bool m_running = false;
};

} // namespace kc
