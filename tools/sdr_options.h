// verdanox-send's options for an SDR instead of the stick: the device and
// its settings, the radio mode, the duty cycle, and the device list.
#pragma once

#include <getopt.h>

#include <string>

#include "session/sdr_path.h"

namespace vdx {

struct SdrCommand {
    bool use = false;   // --sdr: send through the SDR
    bool list = false;  // --list-sdr
    bool dutySet = false, settingsGiven = false;
    SdrSettings settings;
};

// Their entries for getopt_long's table (codes from 0x200 on, and -m and
// -B as in verdanox-frames).
extern const option kSdrOptions[];
constexpr int kSdrOptionCount = 10;

// Reads the option `code` into `o`: 1 when taken, 0 when it is none of
// these, -1 with `problem` when its value is wrong.
int sdrOption(int code, const char* arg, SdrCommand* o, std::string* problem);

// What does not go together once every option was read (an SDR setting
// without --sdr, --sdr with --stick, ...); empty when all is well.
std::string sdrConflict(const SdrCommand& o, bool stickChosen);

}  // namespace vdx
