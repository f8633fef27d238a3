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

int differingBits(const std::vector<std::uint8_t> &a, const std::vector<std::uint8_t> &b)
{
    int bits = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
        bits += static_cast<int>(std::bitset<8>(a[i] ^ b[i]).count());
    return bits;
}

TEST(LineShaper, PlainReplyIsOneImmediatePiece)
{
    LineShaper shaper({}, 1);
    const auto pieces = shaper.shape(sampleReply(7));
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0].bytes, sampleReply(7));
    EXPECT_EQ(pieces[0].offsetNs, 0);
}

struct SplitCase
{
    std::size_t replySize;
    int splitBytes;
    std::vector<std::size_t> sizes;
};

class FixedSplit : public ::testing::TestWithParam<SplitCase>
{
};

TEST_P(FixedSplit, PiecesAndGaps)
{
    ShapeSettings settings;
    settings.splitBytes = GetParam().splitBytes;
    settings.splitGapNs = 2'000'000;
    LineShaper shaper(settings, 1);
    const auto pieces = shaper.shape(sampleReply(GetParam().replySize));
    ASSERT_EQ(pieces.size(), GetParam().sizes.size());
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        EXPECT_EQ(pieces[i].bytes.size(), GetParam().sizes[i]) << i;
        EXPECT_EQ(pieces[i].offsetNs, static_cast<std::int64_t>(i) * 2'000'000) << i;
    }
    EXPECT_EQ(joined(pieces), sampleReply(GetParam().replySize));
}

INSTANTIATE_TEST_SUITE_P(Sizes, FixedSplit,
                         ::testing::Values(SplitCase{8, 3, {3, 3, 2}}, SplitCase{8, 4, {4, 4}},
                                           SplitCase{8, 8, {8}}, SplitCase{5, 20, {5}},
                                           SplitCase{3, 1, {1, 1, 1}}));

TEST(LineShaper, PacingPlacesEveryByteOnAnAbsoluteCharacterTime)
{
    ShapeSettings settings;
    settings.paceBaud = 9600;
    LineShaper shaper(settings, 1);
    const auto pieces = shaper.shape(sampleReply(961));
    ASSERT_EQ(pieces.size(), 961u);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        ASSERT_EQ(pieces[i].bytes.size(), 1u);
        ASSERT_EQ(pieces[i].offsetNs, static_cast<std::int64_t>(i) * 10'000'000'000LL / 9600);
    }
    // 960 characters of 10 bits at 9600 baud are exactly one second: no rounding creep.
    EXPECT_EQ(pieces[960].offsetNs, 1'000'000'000);
    EXPECT_EQ(joined(pieces), sampleReply(961));
}

TEST(LineShaper, PacingAndSplitGapsAddUp)
{
    ShapeSettings settings;
    settings.paceBaud = 10000; // one character per millisecond
    settings.splitBytes = 2;
    settings.splitGapNs = 5'000'000;
    LineShaper shaper(settings, 1);
    const auto pieces = shaper.shape(sampleReply(5));
    std::vector<std::int64_t> offsets;
    for (const Piece &piece : pieces)
        offsets.push_back(piece.offsetNs / 1'000'000);
    EXPECT_EQ(offsets, (std::vector<std::int64_t>{0, 1, 7, 8, 14}));
}

TEST(LineShaper, RandomSplitKeepsBytesAndBoundsGaps)
{
    ShapeSettings settings;
    settings.randomSplit = true;
    settings.randomGapMaxNs = 3'000'000;
    LineShaper shaper(settings, 99);
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
    }
}

TEST(LineShaper, SameSeedGivesSamePieces)
{
    ShapeSettings settings;
    settings.randomSplit = true;
    LineShaper first(settings, 1234);
    LineShaper second(settings, 1234);
    for (int round = 0; round < 20; ++round) {
        const auto a = first.shape(sampleReply(16));
        const auto b = second.shape(sampleReply(16));
        ASSERT_EQ(a.size(), b.size());
        for (std::size_t i = 0; i < a.size(); ++i) {
            EXPECT_EQ(a[i].bytes, b[i].bytes);
            EXPECT_EQ(a[i].offsetNs, b[i].offsetNs);
        }
    }
}

TEST(LineShaper, FlipsOneBitInEveryNthReply)
{
    ShapeSettings settings;
    settings.flipEvery = 3;
    LineShaper shaper(settings, 5);
    for (int n = 1; n <= 12; ++n) {
        const auto sent = joined(shaper.shape(sampleReply(7)));
        ASSERT_EQ(sent.size(), 7u);
        EXPECT_EQ(differingBits(sent, sampleReply(7)), n % 3 == 0 ? 1 : 0) << "reply " << n;
    }
    EXPECT_EQ(shaper.replyCount(), 12);
}

TEST(LineShaper, DuplicatesEveryNthReplyInOnePiece)
{
    ShapeSettings settings;
    settings.duplicateEvery = 2;
    LineShaper shaper(settings, 5);
    for (int n = 1; n <= 6; ++n) {
        const auto pieces = shaper.shape(sampleReply(7));
        ASSERT_EQ(pieces.size(), 1u);
        std::vector<std::uint8_t> expected = sampleReply(7);
        if (n % 2 == 0)
            expected.insert(expected.end(), expected.begin(), expected.end());
        EXPECT_EQ(pieces[0].bytes, expected) << "reply " << n;
    }
}

TEST(LineShaper, FlippedReplyIsDuplicatedAsSent)
{
    ShapeSettings settings;
    settings.flipEvery = 1;
    settings.duplicateEvery = 1;
    LineShaper shaper(settings, 8);
    const auto sent = joined(shaper.shape(sampleReply(7)));
    ASSERT_EQ(sent.size(), 14u);
    const std::vector<std::uint8_t> first(sent.begin(), sent.begin() + 7);
    const std::vector<std::uint8_t> second(sent.begin() + 7, sent.end());
    EXPECT_EQ(first, second);
    EXPECT_EQ(differingBits(first, sampleReply(7)), 1);
}

TEST(LineShaper, NoiseBurstsAreShortAndSpacedOut)
{
    LineShaper shaper({}, 17);
    for (int round = 0; round < 200; ++round) {
        const auto burst = shaper.noiseBurst();
        ASSERT_GE(burst.size(), 1u);
        ASSERT_LE(burst.size(), 8u);
        const std::int64_t delay = shaper.nextNoiseDelayNs();
        ASSERT_GE(delay, 20'000'000);
        ASSERT_LE(delay, 200'000'000);
    }
}

} // namespace
