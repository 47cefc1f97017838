// The command-line options of verdanox-frames' I/Q captures.
#pragma once

#include <string>
#include <vector>

#include "config/rig.h"
#include "tools/air_output.h"
#include "tools/frame_lines.h"

namespace vdx {

// The option codes getopt_long returns for them.
constexpr int kOptOutputDir = 0x100, kOptCentre = 0x101;

// Reads the option `code` (-o/--output, --output-dir, --mode,
// --frame-format, --sample-rate, --iq-format, --snr, --freq-offset,
// --centre, --clock-ppm, --seed, --gap-ms) into `iq`. 1 when taken, 0 when
// `code` is none of them, -1 with `problem` when its value is wrong.
int airOption(int code, const char* arg, IqSettings* iq, std::string* problem);

// The most of a burst's I and Q values that noise may clip in an integer
// sample format: beyond it the capture holds visibly less noise than
// --snr asked (at 1 %, 2.7 dB, it holds 0.1 dB less).
constexpr double kMaxClippedShare = 0.01;

// Why choices on the command line cannot take effect, in one line: an air
// option (`given`: the codes airOption took, in order) with an output that
// does not use it (--snr outside I/Q captures, --mode outside iq,
// radio-crc and rtlwmbus, --frame-format outside iq and radio-crc, --seed
// without --snr), --json with an output whose lines it would replace, an
// SNR whose noise would clip in the sample format. Empty when all can.
std::string airChoiceProblem(const std::vector<int>& given, LineFormat format, bool json, const IqSettings& iq);

// The radio mode meter `meter` sends in: its own or `fallback` (--mode).
RadioMode meterMode(const Rig& rig, size_t meter, RadioMode fallback);

// --frame-format b goes to the meters whose mode has it, the others send
// format A: `leftOut` gets the line that names them (empty when none is
// left out). False when no meter has format B.
bool frameFormatChoice(const Rig& rig, const IqSettings& iq, std::string* leftOut);

// Why fault `r` cannot go on meter `meter` in its radio mode (`fallback`:
// --mode): bad-3of6 outside T1. Empty when it can.
std::string modeFaultProblem(const FaultRule& r, const Rig& rig, size_t meter, RadioMode fallback);

}  // namespace vdx
