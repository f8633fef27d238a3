#pragma once

#include "operations/Outcomes.h"
#include "operations/Replies.h"

#include <QDateTime>
#include <QObject>

#include <functional>

namespace kc {

class DataLog;
class TrendStore;

// Where readings go, whichever window polled them: register reads and upload
// records to the trend and, while it is on, the data log.
class Recorder : public QObject
{
    Q_OBJECT
public:
    // trend: nullptr keeps no history (a service running for years would only grow it).
    Recorder(TrendStore *trend, DataLog *log, QObject *parent = nullptr);

    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }
    TrendStore *trend() const { return m_trend; }
    DataLog *log() const { return m_log; }
    // The data log on or off; logStateChanged() tells every window that shows it.
    void setLogging(bool on);
    bool logging() const;

    // A register read on a port; mainWindow: the main window's own reads, a trend
    // source of their own.
    void recordRead(const QString &port, int station, const Outcome &outcome, bool mainWindow);
    // A record a module sent on its own.
    void recordUpload(const QString &port, const UploadReadings &record);
    // A module whose line went away (lost) or would not open, so the log shows the gap.
    void recordLineDown(const QString &port, int station, bool lost);

signals:
    void logStateChanged(bool on);
    // The data log refused a row and was switched off; its error() says why.
    void logFailed();

private:
    void write(const struct LogRow &row);

    TrendStore *m_trend;
    DataLog *m_log;
    std::function<QDateTime()> m_clock;
};

} // namespace kc
