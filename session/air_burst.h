// A telegram as it goes on the air: the radio frame with the CRC blocks of
// its frame format, and the chips of that frame in its meter's radio mode,
// which the I/Q captures and an SDR's transmit stream both modulate.
#pragma once

#include <cstdint>
#include <vector>

#include "sdr/chips.h"
#include "telegram/send_cycle.h"

namespace vdx {

// The radio frame of `t` without CRCs; for a length-mismatch telegram its
// L-field off by `t.lengthError`.
std::vector<uint8_t> radioFrameOf(const SentTelegram& t);

// The radio frame of `t` with its CRCs in `format`; for a length-mismatch
// telegram the L-field off (and the CRC of its block right for it), for a
// bad-crc telegram the high byte of the first CRC inverted.
std::vector<uint8_t> airFrame(const SentTelegram& t, FrameFormat format);

// The air fault a telegram's fault kind puts into its chips (none for the
// kinds that live in its bytes).
AirFault airFault(FaultKind kind);

// The chips of `t` in `mode`: its frame in `format` where the mode has
// frame format B, else in A, with its air fault.
std::vector<uint8_t> telegramChips(const SentTelegram& t, RadioMode mode, FrameFormat format);

// Milliseconds on the air of `chips` chips in `mode`.
double airMs(size_t chips, RadioMode mode);

}  // namespace vdx
