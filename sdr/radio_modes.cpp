#include "sdr/radio_modes.h"

#include <cmath>

namespace vdx {

// EN 13757-4, meter to other device, as sent here:
//
//  mode channel        chip rate    coding       modulation, deviation  preamble, 01 pairs     sync word (chips) frames
//  S1   868.300 MHz    32.768 kcps  Manchester   2-FSK +-50 kHz         279 (the long header)  0x07696 (18)          A
//  S2   868.300 MHz    32.768 kcps  Manchester   2-FSK +-50 kHz         15 (the short header)  0x07696 (18)          A
//  T1   868.950 MHz    100 kcps     3 out of 6   2-FSK +-50 kHz         19                     0x03D (10)            A
//  R2   868.330 MHz    4.8 kcps     Manchester   2-FSK +-6 kHz          39                     0x07696 (18)          A
//  C1   868.950 MHz    100 kcps     NRZ          2-FSK +-45 kHz         16                     0x543D54CD (32) A,    A,
//  B
//                                                                                              0x543D543D (32) B
//  F    433.820 MHz    2.4 kcps     NRZ          2-FSK +-5.5 kHz        39                     0xF68D (16) A,        A,
//  B
//                                                                                              0xF672 (16) B
//  N    169.40625 MHz  4.8 kcps     NRZ          GFSK BT 0.5, +-2.4 kHz 8                      0xF68D (16) A,        A,
//  B
//                                                                                              0xF672 (16) B
//
// - The header of S and R2 is n x 01 then 000111011010010110: S1 n >= 279
//   (576 chips with the sync word), S2 n >= 15 (48 chips), R2 n >= 39 (96
//   chips); T1 n >= 19 then 0000111101 (48 chips); C1 n >= 16 then the 32
//   chips (64 chips); F n >= 39 and N n = 8 (0x5555) before their 16 chips.
//   Preambles are sent at those lengths; fewer is the short-preamble fault.
// - Manchester (S, R2): every data bit is two chips of opposite value, a 1
//   as 01 and a 0 as 10. 3 out of 6 (T1): every nibble is six chips with
//   three ones, high nibble first. NRZ (C1, F, N): a chip per bit. Bytes
//   go most significant bit first in every mode.
// - Deviation is the nominal one (S and T: 40 to 80 kHz allowed; R2: 4.8 to
//   7.2 kHz; mode C's nominal +-45 kHz is smaller than T's +-50 kHz). The
//   chip rate, deviation and carrier tolerances of the standard are what
//   --clock-ppm and --freq-offset explore.
// - R2 has ten channels of 60 kHz, 868.03 + n x 0.06 MHz (n = 0 .. 9); the
//   capture uses channel 5, 868.33 MHz, where single-channel receivers
//   listen.
// - N at 169 MHz has channels of 12.5 kHz: 1a 169.40625, 1b 169.41875, 3a
//   169.45625 and 3b 169.46875 MHz at 4.8 kbit/s GFSK (BT 0.5, +-2.4 kHz,
//   modulation index 1), 2a 169.43125 and 2b 169.44375 MHz at 2.4 kbit/s,
//   and channel 0, 169.4375 MHz, at 19.2 kbit/s 4-GFSK on 50 kHz. The
//   capture sends on channel 1a; the frame is not whitened or FEC-coded.
// - Frame format A: CRC blocks after the first 10 bytes and every 16;
//   format B: one CRC after up to 125 bytes (the tools add them).
const RadioModeInfo kRadioModes[7] = {
    {RadioMode::S1, "s1", "S1", 868.3e6, 32768, 50000, 0, Coding::Manchester, 279, 279, 18, 0x07696, 0},
    {RadioMode::S2, "s2", "S2", 868.3e6, 32768, 50000, 0, Coding::Manchester, 15, 15, 18, 0x07696, 0},
    {RadioMode::T1, "t1", "T1", 868.95e6, 100000, 50000, 0, Coding::ThreeOutOfSix, 19, 19, 10, 0x03D, 0},
    {RadioMode::R2, "r2", "R2", 868.33e6, 4800, 6000, 0, Coding::Manchester, 39, 39, 18, 0x07696, 0},
    {RadioMode::C1, "c1", "C1", 868.95e6, 100000, 45000, 0, Coding::Nrz, 16, 16, 32, 0x543D54CD, 0x543D543D},
    {RadioMode::F, "f", "F", 433.82e6, 2400, 5500, 0, Coding::Nrz, 39, 39, 16, 0xF68D, 0xF672},
    {RadioMode::N, "n", "N", 169.40625e6, 4800, 2400, 0.5, Coding::Nrz, 8, 8, 16, 0xF68D, 0xF672},
};

const RadioModeInfo& radioMode(RadioMode mode) { return kRadioModes[static_cast<int>(mode)]; }

bool parseRadioMode(const std::string& name, RadioMode* mode) {
    for (const RadioModeInfo& m : kRadioModes)
        if (name == m.name) return *mode = m.mode, true;
    return false;
}

std::string radioModeNames() {
    std::string names;
    for (const RadioModeInfo& m : kRadioModes)
        names += std::string(names.empty() ? "" : m.mode == RadioMode::N ? " or " : ", ") + m.name;
    return names;
}

double bandReachHz(const RadioModeInfo& mode, double offsetHz) {
    return std::fabs(offsetHz) + mode.deviationHz + mode.chipRate / 2.0;
}

}  // namespace vdx
