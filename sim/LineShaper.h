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
    int burstEvery = 0; // out of every burstEvery replies, burstLength in a row get a flipped bit
    int burstLength = 0;
    int cutBytes = 0;   // what every reply loses at its end
    int strayCount = 0; // bytes of strayByte before every reply
    std::uint8_t strayByte = 0;
};

void fillRandom(std::mt19937 &rng, std::vector<std::uint8_t> &bytes);

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
    // Timed at the line's pace and nothing else, as another device's bytes.
    std::vector<Piece> pace(const std::vector<std::uint8_t> &bytes);

    // A new burst setting starts its round afresh; 0 turns it off.
    void setBurst(int every, int length);
    void setCut(int bytes) { m_settings.cutBytes = bytes; }

    std::vector<std::uint8_t> noiseBurst();
    std::int64_t nextNoiseDelayNs();
    void fillRandom(std::vector<std::uint8_t> &bytes);

private:
    std::vector<Piece> timed(const std::vector<std::uint8_t> &bytes,
                             const std::vector<std::size_t> &sizes);
    void flipOneBit(std::vector<std::uint8_t> &reply);
    std::vector<std::size_t> cutSizes(std::size_t total);
    std::int64_t gapAfterPiece();

    ShapeSettings m_settings;
    std::mt19937 m_rng;
    int m_replyCount = 0;
    long long m_burstCount = 0;
};

} // namespace kcsim
