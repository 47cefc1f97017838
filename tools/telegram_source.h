// Where the tools' telegrams come from: the window's VDXconfig.txt (ten
// meters, mode 7 or plain, in turns) or a rig file.
#pragma once

#include <string>
#include <vector>

#include "config/rig.h"
#include "telegram/faults.h"

namespace vdx {

struct SourceOptions {
    const char* config = nullptr;   // a VDXconfig.txt; nullptr: the one here
    const char* rig = nullptr;      // a rig file instead
    bool plain = false;             // --config only: plain telegrams
    double interval = 5;            // --config: between telegrams
    std::vector<FaultRule> faults;  // --fault: for every meter, after a rig's own
    std::string output = "stick";   // where the telegrams go: "stick", "radio", "radio-crc"
};

// The options verdanox-send and verdanox-frames share: -c/--config,
// -r/--rig, -i/--interval (into `interval`), -p/--plain and -F/--fault. 1
// when `code` was one of them, 0 when not, -1 with `problem` when its value
// is wrong.
int sourceOption(int code, const char* arg, SourceOptions* o, double* interval, std::string* problem);

// Loads the configuration or the rig into `rig`, with the --fault rules
// added to every meter, telling the user on stderr what went wrong. 0 when
// loaded; otherwise the exit status: 1 for a file that cannot be read, 2 for
// a rig file that is not right, options that do not go together or a fault
// that cannot apply to a meter (or to the output).
int loadTelegramSource(const char* program, const SourceOptions& options, Rig* rig);

}  // namespace vdx
