#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace kcsim {

struct ShapeSettings
{
    int splitBytes = 0; // 0: no fixed split
    std::int64_t splitGapNs = 0;
    bool randomSplit = false;
    std::int64_t randomGapMaxNs = 5'000'000;
    int paceBaud = 0; // 0: whole pieces at once
    int flipEvery = 0;
    int duplicateEvery = 0;
};

// A run of bytes to write in one write(), offsetNs after the reply starts.
struct Piece
{
    std::vector<std::uint8_t> bytes;
    std::int64_t offsetNs = 0;
};

// Turns a reply into what actually goes on the line: faults injected, cut into
// pieces and timed. Deterministic for a given seed so failures can be replayed.
class LineShaper
{
public:
    LineShaper(ShapeSettings settings, std::uint32_t seed);

    std::vector<Piece> shape(std::vector<std::uint8_t> reply);

    std::vector<std::uint8_t> noiseBurst();
    std::int64_t nextNoiseDelayNs();
    void fillRandom(std::vector<std::uint8_t> &bytes);

private:
    std::vector<std::size_t> cutSizes(std::size_t total);
    std::int64_t gapAfterPiece();

    ShapeSettings m_settings;
    std::mt19937 m_rng;
    int m_replyCount = 0;
};

} // namespace kcsim
