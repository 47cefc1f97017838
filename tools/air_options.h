// The command-line options of verdanox-frames' I/Q captures.
#pragma once

#include <string>

#include "tools/air_output.h"

namespace vdx {

// The option codes getopt_long returns for them.
constexpr int kOptOutputDir = 0x100, kOptCentre = 0x101;

// Reads the option `code` (-o/--output, --output-dir, --mode,
// --frame-format, --sample-rate, --iq-format, --snr, --freq-offset,
// --centre, --clock-ppm, --seed, --gap-ms) into `iq`. 1 when taken, 0 when
// `code` is none of them, -1 with `problem` when its value is wrong.
int airOption(int code, const char* arg, IqSettings* iq, std::string* problem);

}  // namespace vdx
