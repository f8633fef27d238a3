#pragma once

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

// Test frames are written the way they appear in a line trace: "01 03 00 00".
inline std::vector<std::uint8_t> hexBytes(const std::string &text)
{
    std::vector<std::uint8_t> bytes;
    std::istringstream stream(text);
    for (std::string token; stream >> token;)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(token, nullptr, 16)));
    return bytes;
}

inline std::string hexText(const std::vector<std::uint8_t> &bytes)
{
    std::string text;
    for (const auto byte : bytes) {
        char part[4];
        std::snprintf(part, sizeof part, text.empty() ? "%02X" : " %02X", byte);
        text += part;
    }
    return text;
}
