// The chips a wireless M-Bus transmitter sends for one frame (EN 13757-4):
// mode T1 with its preamble, synchronisation chips and 3-out-of-6 coding,
// and mode C1 with its preamble, synchronisation word and NRZ bits. Each
// chip is 0 or 1; 1 is the higher of the two FSK frequencies.
#pragma once

#include <cstdint>
#include <vector>

namespace vdx {

enum class RadioMode { T1, C1 };
enum class FrameFormat { A, B };

// The six chips of a nibble, most significant chip first (EN 13757-4,
// 3-out-of-6 code: every code word holds three ones).
uint8_t threeOutOfSix(uint8_t nibble);

// The chips of `frame` (the bytes as sent, with their CRC blocks) in `mode`:
// T1: 19 preamble chip pairs 01, the chips 0000111101, then each byte as two
// code words, high nibble first (frame format A only); C1: 16 preamble pairs
// 01, the bytes 54 3D, then 54 CD for frame format A or 54 3D for format B,
// then the frame's bits, most significant first. A few chips 01 follow, so
// that the last bits are not at the very edge of the burst.
std::vector<uint8_t> frameChips(const std::vector<uint8_t>& frame, RadioMode mode, FrameFormat format);

}  // namespace vdx
