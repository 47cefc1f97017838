// Hexadecimal helpers for known-answer tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "session/startup.h"

namespace testhex {

inline std::vector<uint8_t> bytes(const std::string& hex) {
    std::vector<uint8_t> out;
    std::string digits;
    for (char c : hex)
        if (c != ' ') digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

inline std::string str(const uint8_t* data, size_t len) { return vdx::hexText(data, len); }

inline std::string str(const std::vector<uint8_t>& v) { return str(v.data(), v.size()); }

// Upper-case hex of hex text with spaces removed, for comparing dumps.
inline std::string norm(const std::string& hex) { return str(bytes(hex)); }

}  // namespace testhex
