#include "sdr/chips.h"

namespace vdx {
namespace {

constexpr int kPostamblePairs = 4;
constexpr uint8_t kInvalidCodeWord = 0x38;  // 111000

void pairs(std::vector<uint8_t>& chips, int n) {
    for (int i = 0; i < n; ++i) chips.insert(chips.end(), {0, 1});
}

void bits(std::vector<uint8_t>& chips, uint32_t value, int count) {
    for (int b = count - 1; b >= 0; --b) chips.push_back(static_cast<uint8_t>((value >> b) & 1));
}

// A data bit 1 as the chips 01, a 0 as 10.
void manchester(std::vector<uint8_t>& chips, uint8_t byte) {
    for (int b = 7; b >= 0; --b) chips.insert(chips.end(), {uint8_t((~byte >> b) & 1), uint8_t((byte >> b) & 1)});
}

size_t chipsPerByte(Coding coding) { return coding == Coding::Nrz ? 8 : coding == Coding::Manchester ? 16 : 12; }

}  // namespace

uint8_t threeOutOfSix(uint8_t nibble) {
    static const uint8_t kCode[16] = {0x16, 0x0D, 0x0E, 0x0B, 0x1C, 0x19, 0x1A, 0x13,
                                      0x2C, 0x25, 0x26, 0x23, 0x34, 0x31, 0x32, 0x29};
    return kCode[nibble & 0x0F];
}

std::vector<uint8_t> frameChips(const std::vector<uint8_t>& frame, RadioMode mode, FrameFormat format, AirFault fault) {
    const RadioModeInfo& m = radioMode(mode);
    const int preamble = fault == AirFault::ShortPreamble ? m.minPreamblePairs / 2 : m.preamblePairs;
    std::vector<uint8_t> chips;
    chips.reserve(2 * preamble + m.syncChips + chipsPerByte(m.coding) * frame.size() + 2 * kPostamblePairs);
    pairs(chips, preamble);
    const size_t sync = chips.size();
    bits(chips, format == FrameFormat::B && m.syncB != 0 ? m.syncB : m.syncA, m.syncChips);
    if (fault == AirFault::BadSync) chips[sync + m.syncChips / 2] ^= 1;
    for (size_t i = 0; i < frame.size(); ++i) {
        const uint8_t byte = frame[i];
        if (m.coding == Coding::Nrz) {
            bits(chips, byte, 8);
        } else if (m.coding == Coding::Manchester) {
            manchester(chips, byte);
        } else {
            const bool bad = fault == AirFault::BadCodeWord && i == frame.size() / 2;
            bits(chips, bad ? kInvalidCodeWord : threeOutOfSix(byte >> 4), 6);
            bits(chips, threeOutOfSix(byte & 0x0F), 6);
        }
    }
    pairs(chips, kPostamblePairs);
    return chips;
}

}  // namespace vdx
