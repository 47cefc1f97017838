// The wireless M-Bus modes a meter transmits in (EN 13757-4): channel, chip
// rate, coding, modulation, preamble and synchronisation word of each, as
// one table that the chips, the modulator, the tools' help and the band
// checks all read.
#pragma once

#include <cstdint>
#include <string>

namespace vdx {

enum class RadioMode : uint8_t { S1, S2, T1, R2, C1, F, N };
enum class FrameFormat : uint8_t { A, B };

// How bits become chips: Manchester (two chips a bit), the 3-out-of-6 code
// (six chips a nibble) or NRZ (a chip a bit).
enum class Coding : uint8_t { Manchester, ThreeOutOfSix, Nrz };

struct RadioModeInfo {
    RadioMode mode;
    const char* name;    // as options and rig files write it: "s1"
    const char* label;   // as receivers print it: "S1"
    double channelHz;    // centre of the channel
    uint32_t chipRate;   // chips per second
    double deviationHz;  // nominal FSK deviation; chip 1 the higher frequency
    double gaussianBt;   // GFSK filter's bandwidth-time product; 0: 2-FSK
    Coding coding;
    int preamblePairs;     // chip pairs 01 sent before the synchronisation word
    int minPreamblePairs;  // the fewest the standard allows a transmitter
    int syncChips;         // length of the synchronisation word
    uint32_t syncA;        // the word before a frame of format A, first chip highest
    uint32_t syncB;        // ... of format B; 0: this mode sends format A only
};

// Every mode, in the order of RadioMode.
extern const RadioModeInfo kRadioModes[7];

const RadioModeInfo& radioMode(RadioMode mode);
// The mode of "s1", "t1", ...; false for another name.
bool parseRadioMode(const std::string& name, RadioMode* mode);
// "s1, s2, t1, r2, c1, f or n"
std::string radioModeNames();

// How far from the capture's centre a burst of `mode` whose carrier sits
// `offsetHz` from it reaches: |offset| + deviation + chip rate / 2. It must
// stay below half the sample rate, or the upper or lower tone folds over to
// the other side of the band and the chips come out wrong.
double bandReachHz(const RadioModeInfo& mode, double offsetHz);

}  // namespace vdx
