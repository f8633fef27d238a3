#include "LineShaper.h"

#include <gtest/gtest.h>

#include <bitset>
#include <numeric>

namespace {

using kcsim::LineShaper;
using kcsim::Piece;
using kcsim::ShapeSettings;

std::vector<std::uint8_t> sampleReply(std::size_t size)
{
    std::vector<std::uint8_t> reply(size);
    std::iota(reply.begin(), reply.end(), std::uint8_t{0x10});
    return reply;
}

std::vector<std::uint8_t> joined(const std::vector<Piece> &pieces)
{
    std::vector<std::uint8_t> bytes;
    for (const Piece &piece : pieces)
        bytes.insert(bytes.end(), piece.bytes.begin(), piece.bytes.end());
    return bytes;
}

TEST(LineShaper, SplitAndPacingKeepEveryByteInOrderAndAddUpTheirGaps)
{
    struct Case
    {
        std::size_t replySize;
        int splitBytes;
        int paceBaud; // 10000 baud: one character per millisecond
        std::vector<std::size_t> sizes;
        std::vector<std::int64_t> offsetsMs;
    };
    const Case cases[] = {{7, 0, 0, {7}, {0}},
                          {8, 3, 0, {3, 3, 2}, {0, 2, 4}},
                          {8, 4, 0, {4, 4}, {0, 2}},
                          {5, 20, 0, {5}, {0}},
                          {5, 2, 10000, {1, 1, 1, 1, 1}, {0, 1, 4, 5, 8}}};
    for (const Case &c : cases) {
        ShapeSettings settings;
        settings.splitBytes = c.splitBytes;
        settings.splitGapNs = 2'000'000;
        settings.paceBaud = c.paceBaud;
        LineShaper shaper(settings, 1);
        const auto pieces = shaper.shape(sampleReply(c.replySize));
        std::vector<std::size_t> sizes;
        std::vector<std::int64_t> offsetsMs;
        for (const Piece &piece : pieces) {
            sizes.push_back(piece.bytes.size());
            offsetsMs.push_back(piece.offsetNs / 1'000'000);
        }
        EXPECT_EQ(sizes, c.sizes) << c.replySize << " by " << c.splitBytes;
        EXPECT_EQ(offsetsMs, c.offsetsMs) << c.replySize << " by " << c.splitBytes;
        EXPECT_EQ(joined(pieces), sampleReply(c.replySize));
    }
}

TEST(LineShaper, PacedByteTimesDoNotCreep)
{
    ShapeSettings settings;
    settings.paceBaud = 9600;
    LineShaper shaper(settings, 1);
    const auto pieces = shaper.shape(sampleReply(961));
    ASSERT_EQ(pieces.size(), 961u);
    EXPECT_EQ(pieces[1].offsetNs, 1'041'666);
    // 960 characters of 10 bits at 9600 baud are exactly one second.
    EXPECT_EQ(pieces[960].offsetNs, 1'000'000'000);
}

TEST(LineShaper, RandomSplitKeepsBytesBoundsGapsAndFollowsTheSeed)
{
    ShapeSettings settings;
    settings.randomSplit = true;
    settings.randomGapMaxNs = 3'000'000;
    LineShaper shaper(settings, 99);
    LineShaper twin(settings, 99);
    for (std::size_t size = 2; size < 40; ++size) {
        const auto pieces = shaper.shape(sampleReply(size));
        ASSERT_GE(pieces.size(), 2u) << size;
        EXPECT_EQ(joined(pieces), sampleReply(size));
        EXPECT_EQ(pieces.front().offsetNs, 0);
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            const std::int64_t gap = pieces[i].offsetNs - pieces[i - 1].offsetNs;
            EXPECT_GE(gap, 0);
            EXPECT_LE(gap, 3'000'000);
        }
        const auto again = twin.shape(sampleReply(size));
        ASSERT_EQ(again.size(), pieces.size()) << size;
        for (std::size_t i = 0; i < pieces.size(); ++i)
            EXPECT_EQ(again[i].offsetNs, pieces[i].offsetNs) << size;
    }
}

TEST(LineShaper, FlipsAndDuplicatesEveryNthReply)
{
    ShapeSettings settings;
    settings.flipEvery = 2;
    settings.duplicateEvery = 3;
    LineShaper shaper(settings, 5);
    const std::vector<std::uint8_t> reply = sampleReply(7);
    for (int n = 1; n <= 12; ++n) {
        const auto pieces = shaper.shape(reply);
        ASSERT_EQ(pieces.size(), 1u) << "reply " << n; // a duplicate goes out in the same write
        const std::vector<std::uint8_t> &sent = pieces[0].bytes;
        ASSERT_EQ(sent.size(), n % 3 == 0 ? 14u : 7u) << "reply " << n;
        const std::vector<std::uint8_t> first(sent.begin(), sent.begin() + 7);
        // A duplicate repeats the reply as sent, damage included.
        EXPECT_EQ(std::vector<std::uint8_t>(sent.end() - 7, sent.end()), first) << "reply " << n;
        int flippedBits = 0;
        for (std::size_t i = 0; i < first.size(); ++i)
            flippedBits += static_cast<int>(std::bitset<8>(first[i] ^ reply[i]).count());
        EXPECT_EQ(flippedBits, n % 2 == 0 ? 1 : 0) << "reply " << n;
    }
}

} // namespace
