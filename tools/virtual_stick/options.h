// The virtual stick's command line.
#pragma once

#include <string>
#include <vector>

namespace vstick {

struct Options {
    std::string config = "VDXconfig.txt";
    bool configGiven = false;  // --config named it: it must be readable
    std::string rig;           // keys from a rig file instead
    std::string framesPath;
    std::string reply = "none";
    long unplugAfter = -1;
    long replugAfter = -1;
    bool busy = false;
    std::vector<std::string> serials;  // one stick each; VX00010042 when none is given
    std::vector<std::string> command;
    std::string radio;      // --radio, --radio-crc: read radio frames from this file, run nothing
    bool radioCrc = false;  // ... with frame format A's CRC blocks
};

// Reads the options into `o`. False when the program should end at once,
// with *exitCode: 0 after --help or --version, 2 on a bad option.
bool parseOptions(int argc, char** argv, Options* o, int* exitCode);

}  // namespace vstick
