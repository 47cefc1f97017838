// The chips a wireless M-Bus transmitter sends for one frame (EN 13757-4):
// the mode's preamble and synchronisation word, then the frame's bytes in
// the mode's coding (see radio_modes.h). Each chip is 0 or 1; 1 is the
// higher of the two FSK frequencies.
#pragma once

#include <cstdint>
#include <vector>

#include "sdr/radio_modes.h"

namespace vdx {

// The six chips of a nibble, most significant chip first (EN 13757-4,
// 3-out-of-6 code: every code word holds three ones).
uint8_t threeOutOfSix(uint8_t nibble);

// Faults of the air interface, which no receiver may take for a good frame:
//   BadCodeWord    T1: the high nibble of the frame's middle byte as 111000,
//                  three ones but no code word of the table
//   ShortPreamble  half the mode's minimum of preamble pairs, rounded down
//   BadSync        the middle chip of the synchronisation word inverted
enum class AirFault : uint8_t { None, BadCodeWord, ShortPreamble, BadSync };

// The chips of `frame` (the bytes as sent, with their CRC blocks) in `mode`
// with the synchronisation word of `format`: the preamble pairs 01, the
// synchronisation word, the coded bytes, then four pairs 01 so that the
// last bits are not at the very edge of the burst.
std::vector<uint8_t> frameChips(const std::vector<uint8_t>& frame, RadioMode mode, FrameFormat format,
                                AirFault fault = AirFault::None);

}  // namespace vdx
