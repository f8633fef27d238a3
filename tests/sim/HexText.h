#pragma once

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

// Frames written as "01 03 00 00" in the simulator's tests, and the words of an option line.

inline std::vector<std::string> words(const std::string &text)
{
    std::istringstream stream(text);
    return {std::istream_iterator<std::string>(stream), {}};
}

inline std::vector<std::uint8_t> bytes(const std::string &hex)
{
    std::vector<std::uint8_t> out;
    for (const std::string &word : words(hex))
        out.push_back(static_cast<std::uint8_t>(std::stoul(word, nullptr, 16)));
    return out;
}

template <typename Bytes> std::string hex(const Bytes &data)
{
    std::string text;
    for (const auto byte : data) {
        char part[4];
        std::snprintf(part, sizeof part, text.empty() ? "%02X" : " %02X",
                      static_cast<unsigned>(static_cast<std::uint8_t>(byte)));
        text += part;
    }
    return text;
}
