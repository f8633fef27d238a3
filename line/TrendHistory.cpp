#include "line/TrendHistory.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kc {

struct TrendHistory::Chunk
{
    static constexpr int blocks = chunkSamples / blockSamples;
    qint64 base = 0; // time of the first sample
    int count = 0;
    float min = std::numeric_limits<float>::max();
    float max = std::numeric_limits<float>::lowest();
    // Left uninitialised: the pages of a chunk's unused tail are never touched.
    std::array<quint32, chunkSamples> offset;
    std::array<float, chunkSamples> value;
    std::array<float, blocks> blockMin;
    std::array<float, blocks> blockMax;

    qint64 time(int i) const { return base + offset[std::size_t(i)]; }
    qint64 lastTime() const { return time(count - 1); }
    // The first sample at or after t.
    int lowerBound(qint64 t) const
    {
        if (t <= base)
            return 0;
        const auto begin = offset.begin();
        return int(std::lower_bound(begin, begin + count, t - base,
                                    [](quint32 o, qint64 want) { return qint64(o) < want; }) -
                   begin);
    }
};

struct TrendHistory::Extremes
{
    bool any = false;
    qint64 first = 0;
    qint64 last = 0;
    float min = std::numeric_limits<float>::max();
    float max = std::numeric_limits<float>::lowest();
    void take(float lo, float hi)
    {
        min = std::min(min, lo);
        max = std::max(max, hi);
    }
};

TrendHistory::TrendHistory() = default;
TrendHistory::~TrendHistory() = default;
TrendHistory::TrendHistory(TrendHistory &&) noexcept = default;
TrendHistory &TrendHistory::operator=(TrendHistory &&) noexcept = default;

void TrendHistory::append(qint64 timeMs, float value)
{
    if (!m_chunks.empty())
        timeMs = std::max(timeMs, m_chunks.back()->lastTime());
    if (m_chunks.empty() || m_chunks.back()->count == chunkSamples ||
        timeMs - m_chunks.back()->base > qint64(std::numeric_limits<quint32>::max())) {
        m_chunks.push_back(std::make_unique<Chunk>());
        m_chunks.back()->base = timeMs;
    }
    Chunk &c = *m_chunks.back();
    const int i = c.count++;
    c.offset[std::size_t(i)] = quint32(timeMs - c.base);
    c.value[std::size_t(i)] = value;
    const std::size_t block = std::size_t(i / blockSamples);
    if (i % blockSamples == 0) {
        c.blockMin[block] = c.blockMax[block] = value;
    } else {
        c.blockMin[block] = std::min(c.blockMin[block], value);
        c.blockMax[block] = std::max(c.blockMax[block], value);
    }
    c.min = std::min(c.min, value);
    c.max = std::max(c.max, value);
    ++m_size;
}

std::optional<TrendHistory::Sample> TrendHistory::last() const
{
    if (m_chunks.empty())
        return std::nullopt;
    const Chunk &c = *m_chunks.back();
    return Sample{c.lastTime(), c.value[std::size_t(c.count - 1)]};
}

int TrendHistory::firstChunkEndingAtOrAfter(qint64 t) const
{
    const auto it = std::lower_bound(
        m_chunks.begin(), m_chunks.end(), t,
        [](const std::unique_ptr<Chunk> &c, qint64 want) { return c->lastTime() < want; });
    return int(it - m_chunks.begin());
}

void TrendHistory::extremesIn(const Chunk &c, int begin, int end, Extremes &e) const
{
    if (begin >= end)
        return;
    if (!e.any)
        e.first = c.time(begin);
    e.any = true;
    e.last = c.time(end - 1);
    if (begin == 0 && end == c.count) {
        e.take(c.min, c.max);
        return;
    }
    for (int i = begin; i < end;) {
        if (i % blockSamples == 0 && i + blockSamples <= end) {
            const std::size_t block = std::size_t(i / blockSamples);
            e.take(c.blockMin[block], c.blockMax[block]);
            i += blockSamples;
        } else {
            const float v = c.value[std::size_t(i)];
            e.take(v, v);
            ++i;
        }
    }
}

QVector<TrendHistory::Column> TrendHistory::decimate(qint64 from, qint64 to, int columns) const
{
    QVector<Column> out;
    if (columns <= 0 || to <= from)
        return out;
    const int chunks = int(m_chunks.size());
    int k = firstChunkEndingAtOrAfter(from);
    const qint64 span = to - from;
    for (int col = 0; col < columns && k < chunks; ++col) {
        const qint64 lo = from + span * col / columns;
        const qint64 hi = from + span * (col + 1) / columns;
        Extremes e;
        // Chunks wholly before hi are done with once this column has them.
        for (; k < chunks; ++k) {
            const Chunk &c = *m_chunks[std::size_t(k)];
            if (c.base >= hi)
                break;
            const int begin = c.lowerBound(lo);
            const int end = c.lastTime() < hi ? c.count : c.lowerBound(hi);
            extremesIn(c, begin, end, e);
            if (c.lastTime() >= hi)
                break;
        }
        if (e.any)
            out.push_back({col, e.first, e.last, e.min, e.max});
    }
    return out;
}

QVector<QPointF> TrendHistory::points(const QVector<Column> &columns)
{
    QVector<QPointF> out;
    out.reserve(2 * columns.size());
    for (const Column &c : columns) {
        if (c.firstTime == c.lastTime || c.min == c.max) {
            out.push_back({double(c.firstTime), double(c.min)});
            if (c.lastTime != c.firstTime)
                out.push_back({double(c.lastTime), double(c.max)});
            continue;
        }
        const bool minFirst =
            out.isEmpty() || std::abs(out.back().y() - c.min) <= std::abs(out.back().y() - c.max);
        out.push_back({double(c.firstTime), double(minFirst ? c.min : c.max)});
        out.push_back({double(c.lastTime), double(minFirst ? c.max : c.min)});
    }
    return out;
}

std::optional<TrendHistory::Sample> TrendHistory::nearest(qint64 t) const
{
    if (m_chunks.empty())
        return std::nullopt;
    const int k = firstChunkEndingAtOrAfter(t);
    if (k == int(m_chunks.size()))
        return last();
    const Chunk &c = *m_chunks[std::size_t(k)];
    const int i = c.lowerBound(t);
    const Sample after{c.time(i), c.value[std::size_t(i)]};
    std::optional<Sample> before;
    if (i > 0) {
        before = Sample{c.time(i - 1), c.value[std::size_t(i - 1)]};
    } else if (k > 0) {
        const Chunk &p = *m_chunks[std::size_t(k - 1)];
        before = Sample{p.lastTime(), p.value[std::size_t(p.count - 1)]};
    }
    if (before && t - before->time <= after.time - t)
        return before;
    return after;
}

std::size_t TrendHistory::bytes() const
{
    return sizeof(*this) + m_chunks.capacity() * sizeof(std::unique_ptr<Chunk>) +
           m_chunks.size() * sizeof(Chunk);
}

QString TrendStore::mainWindowKey(int station)
{
    return QStringLiteral("main#%1").arg(station);
}

QString TrendStore::sourceKey(const QString &port, int station)
{
    return port + QLatin1Char('#') + QString::number(station);
}

bool TrendStore::isMainWindowKey(const QString &key)
{
    return key.startsWith(QLatin1String("main#"));
}

void TrendStore::add(const QString &key, const TrendOrigin &origin, qint64 timeMs,
                     double temperature, double humidity, const std::optional<AlarmLimits> &limits)
{
    std::shared_ptr<Source> &source = m_sources[key];
    if (!source) {
        source = std::make_shared<Source>();
        m_order << key;
    }
    source->origin = origin;
    source->temperature.append(timeMs, float(temperature));
    source->humidity.append(timeMs, float(humidity));
    if (limits)
        source->limits = limits;
    ++m_generation;
}

const TrendStore::Source *TrendStore::source(const QString &key) const
{
    const auto it = m_sources.constFind(key);
    return it == m_sources.constEnd() ? nullptr : it->get();
}

qint64 TrendStore::samples() const
{
    qint64 n = 0;
    for (const auto &s : m_sources)
        n += s->temperature.size() + s->humidity.size();
    return n;
}

std::size_t TrendStore::bytes() const
{
    std::size_t n = 0;
    for (const auto &s : m_sources)
        n += sizeof(Source) + s->temperature.bytes() + s->humidity.bytes();
    return n;
}

} // namespace kc
