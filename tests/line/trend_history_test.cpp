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

// Every sample of [from, to) looked at one by one, in time order: the column
// it falls in, its extremes and the times of its first and last sample.
QVector<Column> bruteForce(const std::vector<std::pair<qint64, float>> &samples, qint64 from,
                           qint64 to, int columns)
{
    QVector<Column> out;
    const auto bound = [&](int c) { return from + (to - from) * c / columns; };
    int c = 0;
    for (const auto &[t, v] : samples) {
        if (t < from || t >= to)
            continue;
        while (t >= bound(c + 1))
            ++c;
        if (out.isEmpty() || out.back().column != c)
            out.push_back({c, t, t, v, v});
        Column &col = out.back();
        col.lastTime = t;
        col.min = std::min(col.min, v);
        col.max = std::max(col.max, v);
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

// Values rising with their index (sample i at 10 i ms is worth i): a column
// ending before sample k has k - 1 for its maximum, one starting there has k
// for its minimum, whichever block or chunk edge k is on.
TEST(TrendHistory, EveryEdgeOfBlocksAndChunks)
{
    const int n = 2 * TrendHistory::chunkSamples + 100;
    TrendHistory h;
    for (int i = 0; i < n; ++i)
        h.append(10LL * i, float(i));
    for (int k = 1; k < n; ++k) {
        const QVector<Column> before = h.decimate(0, 10LL * k, 1);
        const QVector<Column> after = h.decimate(10LL * k, 10LL * n, 1);
        ASSERT_EQ(before, (QVector<Column>{{0, 0, 10LL * (k - 1), 0, float(k - 1)}})) << k;
        ASSERT_EQ(after, (QVector<Column>{{0, 10LL * k, 10LL * (n - 1), float(k), float(n - 1)}}))
            << k;
    }
}

// About 8 bytes a sample, however long the history.
TEST(TrendHistory, MemoryPerSample)
{
    TrendHistory h;
    for (int i = 0; i < 100'000; ++i)
        h.append(i * 1000LL, float(i % 100));
    EXPECT_LE(double(h.bytes()) / 100'000, 9.0);
}
