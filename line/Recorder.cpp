#include "line/Recorder.h"

#include "line/TrendHistory.h"
#include "operations/DataLog.h"
#include "operations/ModuleReading.h"
#include "operations/RegisterMap.h"

namespace kc {

Recorder::Recorder(TrendStore *trend, DataLog *log, QObject *parent)
    : QObject(parent), m_trend(trend), m_log(log),
      m_clock([] { return QDateTime::currentDateTime(); })
{
}

void Recorder::setLogging(bool on)
{
    if (m_log->enabled() == on)
        return;
    m_log->setEnabled(on);
    emit logStateChanged(on);
}

bool Recorder::logging() const
{
    return m_log->enabled();
}

void Recorder::recordRead(const QString &port, int station, const Outcome &outcome, bool mainWindow)
{
    const QDateTime now = m_clock();
    const std::optional<Reading> reading = readingOf(outcome);
    if (reading && m_trend) {
        const QString key =
            mainWindow ? TrendStore::mainWindowKey(station) : TrendStore::sourceKey(port, station);
        m_trend->add(key, TrendOrigin{port, station, mainWindow}, now.toMSecsSinceEpoch(),
                     realValue(temperatureRow, reading->temperature),
                     realValue(humidityRow, reading->humidity), reading->limits);
    }
    if (m_log->enabled())
        write(pollRow(port, station, reading, outcome, now));
}

void Recorder::recordUpload(const QString &port, const UploadReadings &record)
{
    const QDateTime now = m_clock();
    if (m_trend)
        m_trend->add(TrendStore::mainWindowKey(0), TrendOrigin{port, 0, true},
                     now.toMSecsSinceEpoch(), record.first.toDouble(), record.second.toDouble());
    if (m_log->enabled())
        write(uploadRow(port, record, now));
}

void Recorder::recordLineDown(const QString &port, int station, bool lost)
{
    if (m_log->enabled())
        write(lineDownRow(port, station, lost, m_clock()));
}

void Recorder::write(const LogRow &row)
{
    if (m_log->write(row))
        return;
    m_log->setEnabled(false);
    emit logStateChanged(false);
    emit logFailed();
}

} // namespace kc
