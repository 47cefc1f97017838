#include "sdr/chips.h"

namespace vdx {
namespace {

constexpr int kT1PreamblePairs = 19;
constexpr int kC1PreamblePairs = 16;
constexpr int kPostamblePairs = 4;

void pairs(std::vector<uint8_t>& chips, int n) {
    for (int i = 0; i < n; ++i) chips.insert(chips.end(), {0, 1});
}

void bits(std::vector<uint8_t>& chips, uint32_t value, int count) {
    for (int b = count - 1; b >= 0; --b) chips.push_back(static_cast<uint8_t>((value >> b) & 1));
}

}  // namespace

uint8_t threeOutOfSix(uint8_t nibble) {
    static const uint8_t kCode[16] = {0x16, 0x0D, 0x0E, 0x0B, 0x1C, 0x19, 0x1A, 0x13,
                                      0x2C, 0x25, 0x26, 0x23, 0x34, 0x31, 0x32, 0x29};
    return kCode[nibble & 0x0F];
}

std::vector<uint8_t> frameChips(const std::vector<uint8_t>& frame, RadioMode mode, FrameFormat format) {
    std::vector<uint8_t> chips;
    if (mode == RadioMode::T1) {
        chips.reserve(2 * kT1PreamblePairs + 10 + 12 * frame.size() + 2 * kPostamblePairs);
        pairs(chips, kT1PreamblePairs);
        bits(chips, 0x03D, 10);  // 0000111101
        for (uint8_t byte : frame) {
            bits(chips, threeOutOfSix(byte >> 4), 6);
            bits(chips, threeOutOfSix(byte & 0x0F), 6);
        }
    } else {
        chips.reserve(2 * kC1PreamblePairs + 32 + 8 * frame.size() + 2 * kPostamblePairs);
        pairs(chips, kC1PreamblePairs);
        bits(chips, 0x543D, 16);
        bits(chips, format == FrameFormat::A ? 0x54CD : 0x543D, 16);
        for (uint8_t byte : frame) bits(chips, byte, 8);
    }
    pairs(chips, kPostamblePairs);
    return chips;
}

}  // namespace vdx
