#include "LineShaper.h"

#include <algorithm>
#include <utility>

namespace kcsim {

namespace {

constexpr std::int64_t nsPerSecond = 1'000'000'000;
constexpr int bitsPerCharacter = 10;

} // namespace

LineShaper::LineShaper(ShapeSettings settings, std::uint32_t seed)
    : m_settings(settings), m_rng(seed)
{
}

std::vector<Piece> LineShaper::shape(std::vector<std::uint8_t> reply)
{
    ++m_replyCount;
    if (reply.empty())
        return {};

    // Each round's burst comes at its end, so a run starts with good replies.
    if (m_settings.burstEvery > 0 &&
        m_burstCount++ % m_settings.burstEvery >= m_settings.burstEvery - m_settings.burstLength)
        flipOneBit(reply);
    if (m_settings.flipEvery > 0 && m_replyCount % m_settings.flipEvery == 0)
        flipOneBit(reply);
    // A reply cut short still leaves its first byte, or it would be no reply at all.
    if (m_settings.cutBytes > 0)
        reply.resize(std::max<std::size_t>(
            1, reply.size() - std::min<std::size_t>(reply.size(), m_settings.cutBytes)));
    if (m_settings.duplicateEvery > 0 && m_replyCount % m_settings.duplicateEvery == 0) {
        const std::vector<std::uint8_t> copy = reply;
        reply.insert(reply.end(), copy.begin(), copy.end());
    }
    reply.insert(reply.begin(), static_cast<std::size_t>(m_settings.strayCount),
                 m_settings.strayByte);
    return timed(reply, cutSizes(reply.size()));
}

std::vector<Piece> LineShaper::pace(const std::vector<std::uint8_t> &bytes)
{
    return timed(bytes, {bytes.size()});
}

void LineShaper::setBurst(int every, int length)
{
    m_settings.burstEvery = every;
    m_settings.burstLength = length;
    m_burstCount = 0;
}

std::vector<Piece> LineShaper::timed(const std::vector<std::uint8_t> &bytes,
                                     const std::vector<std::size_t> &sizes)
{
    std::vector<Piece> pieces;
    std::size_t position = 0;
    std::int64_t gapsNs = 0;
    // Byte times come from the absolute byte index, so rounding never accumulates.
    const auto byteOffset = [this](std::size_t index) -> std::int64_t {
        if (m_settings.paceBaud <= 0)
            return 0;
        return static_cast<std::int64_t>(index) * bitsPerCharacter * nsPerSecond /
               m_settings.paceBaud;
    };

    for (std::size_t n = 0; n < sizes.size(); ++n) {
        const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(position);
        if (m_settings.paceBaud > 0) {
            for (std::size_t i = 0; i < sizes[n]; ++i)
                pieces.push_back(
                    {{begin[static_cast<std::ptrdiff_t>(i)]}, gapsNs + byteOffset(position + i)});
        } else {
            pieces.push_back(
                {std::vector<std::uint8_t>(begin, begin + static_cast<std::ptrdiff_t>(sizes[n])),
                 gapsNs});
        }
        position += sizes[n];
        if (n + 1 < sizes.size())
            gapsNs += gapAfterPiece();
    }
    return pieces;
}

void LineShaper::flipOneBit(std::vector<std::uint8_t> &reply)
{
    std::uniform_int_distribution<std::size_t> byteDist(0, reply.size() - 1);
    std::uniform_int_distribution<int> bitDist(0, 7);
    const std::size_t index = byteDist(m_rng);
    reply[index] = static_cast<std::uint8_t>(reply[index] ^ (1u << bitDist(m_rng)));
}

std::vector<std::size_t> LineShaper::cutSizes(std::size_t total)
{
    std::vector<std::size_t> sizes;
    if (m_settings.randomSplit) {
        const std::size_t largest = std::max<std::size_t>(1, total / 2);
        for (std::size_t left = total; left > 0;) {
            std::uniform_int_distribution<std::size_t> sizeDist(1, std::min(left, largest));
            sizes.push_back(sizeDist(m_rng));
            left -= sizes.back();
        }
    } else if (m_settings.splitBytes > 0) {
        const auto step = static_cast<std::size_t>(m_settings.splitBytes);
        for (std::size_t left = total; left > 0; left -= std::min(left, step))
            sizes.push_back(std::min(left, step));
    } else {
        sizes.push_back(total);
    }
    return sizes;
}

std::int64_t LineShaper::gapAfterPiece()
{
    if (m_settings.randomSplit) {
        std::uniform_int_distribution<std::int64_t> gapDist(0, m_settings.randomGapMaxNs);
        return gapDist(m_rng);
    }
    return m_settings.splitGapNs;
}

std::vector<std::uint8_t> LineShaper::noiseBurst()
{
    std::uniform_int_distribution<int> lengthDist(1, 8);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(lengthDist(m_rng)));
    fillRandom(bytes);
    return bytes;
}

std::int64_t LineShaper::nextNoiseDelayNs()
{
    std::uniform_int_distribution<std::int64_t> delayDist(20'000'000, 200'000'000);
    return delayDist(m_rng);
}

void LineShaper::fillRandom(std::vector<std::uint8_t> &bytes)
{
    kcsim::fillRandom(m_rng, bytes);
}

void fillRandom(std::mt19937 &rng, std::vector<std::uint8_t> &bytes)
{
    std::uniform_int_distribution<int> byteDist(0, 255);
    for (auto &byte : bytes)
        byte = static_cast<std::uint8_t>(byteDist(rng));
}

} // namespace kcsim
