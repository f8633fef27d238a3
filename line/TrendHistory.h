#pragma once

#include "operations/ModuleReading.h"

#include <QHash>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QVector>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace kc {

// One series of samples (time in ms since the epoch, value), appended in time
// order. A sample costs about 8 bytes: the time as an offset from its chunk's
// first sample, the value as a float. Each chunk keeps the minimum and
// maximum of every block of 64 samples and of itself, so the extremes of any
// time slice are found from a few summaries and at most two partial blocks at
// each end: drawing a day of samples costs about what drawing a minute does.
class TrendHistory
{
public:
    // The samples of one pixel column.
    struct Column
    {
        int column = 0;
        qint64 firstTime = 0; // of its first and last sample
        qint64 lastTime = 0;
        float min = 0;
        float max = 0;
        bool operator==(const Column &o) const
        {
            return column == o.column && firstTime == o.firstTime && lastTime == o.lastTime &&
                   min == o.min && max == o.max;
        }
    };
    struct Sample
    {
        qint64 time = 0;
        float value = 0;
    };

    TrendHistory();
    ~TrendHistory();
    TrendHistory(TrendHistory &&) noexcept;
    TrendHistory &operator=(TrendHistory &&) noexcept;

    // A time before the last one (the wall clock set back) counts as the last.
    void append(qint64 timeMs, float value);
    qint64 size() const { return m_size; }
    std::optional<Sample> last() const;

    // [from, to) cut into `columns` equal slices; each slice with samples
    // gives its extremes. Empty slices are left out.
    QVector<Column> decimate(qint64 from, qint64 to, int columns) const;

    // The points that draw columns: one for a column of one sample, else its
    // extremes at its first and last sample's times, the one nearer the
    // previous point first so the line does not zigzag.
    static QVector<QPointF> points(const QVector<Column> &columns);

    // The sample nearest to t.
    std::optional<Sample> nearest(qint64 t) const;

    // Memory held, in bytes.
    std::size_t bytes() const;

    static constexpr int chunkSamples = 4096;
    static constexpr int blockSamples = 64;

private:
    struct Chunk;
    struct Extremes;
    int firstChunkEndingAtOrAfter(qint64 t) const;
    void extremesIn(const Chunk &c, int begin, int end, Extremes &e) const;

    std::vector<std::unique_ptr<Chunk>> m_chunks;
    qint64 m_size = 0;
};

// Where a source's samples come from; the trend's window names it from these.
struct TrendOrigin
{
    QString port;            // as the poller was given it ("COM3", a device path)
    int station = 0;         // 0: upload records, which name no station
    bool mainWindow = false; // the main window's own reads, not the monitor's
    bool operator==(const TrendOrigin &o) const
    {
        return port == o.port && station == o.station && mainWindow == o.mainWindow;
    }
    bool operator!=(const TrendOrigin &o) const { return !(*this == o); }
};

// Temperature and humidity histories of every source that was sampled (a
// monitored module, the main window's polling), with its latest limits.
class TrendStore
{
public:
    struct Source
    {
        TrendOrigin origin;
        TrendHistory temperature;
        TrendHistory humidity;
        std::optional<AlarmLimits> limits;
    };

    // The main window's reads of a station (0: its upload records), as sources of their own.
    static QString mainWindowKey(int station);
    static bool isMainWindowKey(const QString &key);
    // A monitored module.
    static QString sourceKey(const QString &port, int station);

    // Values in degrees and %RH. The origin is the latest one given for the key.
    void add(const QString &key, const TrendOrigin &origin, qint64 timeMs, double temperature,
             double humidity, const std::optional<AlarmLimits> &limits = {});
    const Source *source(const QString &key) const;
    QStringList keys() const { return m_order; }
    qint64 samples() const;
    std::size_t bytes() const;
    // Bumped at every add, so a view can tell it has something new to draw.
    quint64 generation() const { return m_generation; }

private:
    QHash<QString, std::shared_ptr<Source>> m_sources;
    QStringList m_order;
    quint64 m_generation = 0;
};

} // namespace kc
