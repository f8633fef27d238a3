#include "line/TrendHistory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace kc;

namespace kc {
void PrintTo(const TrendHistory::Column &c, std::ostream *os)
{
    *os << "{" << c.column << ", " << c.firstTime << ", " << c.lastTime << ", " << c.min << ", "
        << c.max << "}";
}
} // namespace kc

namespace {

using Column = TrendHistory::Column;

// Every sample of [from, to) looked at one by one: the column it falls in by
// its time, its extremes and the times of its first and last sample.
QVector<Column> bruteForce(const std::vector<std::pair<qint64, float>> &samples, qint64 from,
                           qint64 to, int columns)
{
    QVector<Column> out;
    for (int c = 0; c < columns; ++c) {
        const qint64 lo = from + (to - from) * c / columns;
        const qint64 hi = from + (to - from) * (c + 1) / columns;
        std::optional<Column> col;
        for (const auto &[t, v] : samples) {
            if (t < lo || t >= hi)
                continue;
            if (!col)
                col = Column{c, t, t, v, v};
            col->lastTime = t;
            col->min = std::min(col->min, v);
            col->max = std::max(col->max, v);
        }
        if (col)
            out << *col;
    }
    return out;
}

} // namespace

TEST(TrendHistory, WorkedExample)
{
    TrendHistory h;
    const float values[] = {3, 1, 4, 1, 5, 9, 2, 6, 5, 3};
    for (int i = 0; i < 10; ++i)
        h.append(100 * i, values[i]);
    // Columns of 500 ms: samples 0..4 and 5..9.
    EXPECT_EQ(h.decimate(0, 1000, 2), (QVector<Column>{{0, 0, 400, 1, 5}, {1, 500, 900, 2, 9}}));
    // Three columns of 100 ms from 250, one sample each; none from 1000 on.
    EXPECT_EQ(h.decimate(250, 550, 3),
              (QVector<Column>{{0, 300, 300, 1, 1}, {1, 400, 400, 5, 5}, {2, 500, 500, 9, 9}}));
    EXPECT_EQ(h.decimate(1000, 2000, 4), QVector<Column>{});
    EXPECT_EQ(h.nearest(640)->value, 2);
    EXPECT_EQ(h.nearest(660)->value, 6);
    EXPECT_EQ(h.nearest(5000)->time, 900);
}

// The extremes of every pixel column match a look at every sample, for whole
// and partial chunks and blocks, gaps, repeated times and a clock set back.
TEST(TrendHistory, DecimationKeepsEveryColumnsMinimumAndMaximum)
{
    std::mt19937 random(20261206);
    std::vector<std::pair<qint64, float>> samples;
    TrendHistory h;
    qint64 t = 1'700'000'000'000;
    for (int i = 0; i < 3 * TrendHistory::chunkSamples + 777; ++i) {
        const int step = int(random() % 1000);
        t += step < 20 ? 0 : step < 25 ? 3'600'000 : step; // repeats and hour-long gaps
        const float v = float(int(random() % 20001) - 10000) / 100;
        // A clock set back: stored at the last sample's time.
        const qint64 given = step == 999 ? t - 5000 : t;
        h.append(given, v);
        samples.push_back({samples.empty() ? given : std::max(given, samples.back().first), v});
    }
    ASSERT_EQ(h.size(), qint64(samples.size()));
    const qint64 first = samples.front().first, last = samples.back().first;
    const struct
    {
        qint64 from, to;
        int columns;
    } views[] = {
        {first, last + 1, 800},
        {first - 50'000, last + 50'000, 1},
        {first + 1'234'567, first + 1'300'000, 640},
        {last - 10'000, last + 1, 1000},
        {first + 12'345, first + 12'346, 3},
        {(first + last) / 2, last, 97},
    };
    for (const auto &v : views)
        EXPECT_EQ(h.decimate(v.from, v.to, v.columns), bruteForce(samples, v.from, v.to, v.columns))
            << v.from - first << " " << v.to - first << " " << v.columns;
}

// About 8 bytes a sample, however long the history.
TEST(TrendHistory, MemoryPerSample)
{
    TrendHistory h;
    for (int i = 0; i < 100'000; ++i)
        h.append(i * 1000LL, float(i % 100));
    EXPECT_LE(double(h.bytes()) / 100'000, 9.0);
}
