#include "tools/virtual_stick/options.h"

#include <getopt.h>
#include <unistd.h>

#include <climits>
#include <cstdio>

#include "session/startup.h"
#include "tools/cli.h"

namespace vstick {
namespace {

const char kUsage[] =
    "usage: verdanox-virtual-stick [--config FILE | --rig FILE] [--frames FILE] [--reply MODE]\n"
    "                              [--unplug-after N] [--replug-after-seconds S] [--busy]\n"
    "                              [--serial SERIAL]... [--]\n"
    "                              [COMMAND [ARG...]]\n"
    "       verdanox-virtual-stick [--config FILE | --rig FILE] --radio FILE | --radio-crc FILE\n"
    "       verdanox-virtual-stick --help | --version\n";

const char kHelp[] =
    "Starts COMMAND (default: the Verdanox program of this build) with a virtual\n"
    "USB RF stick attached, and prints every telegram the program sends to it.\n\n"
    "  --config FILE      meter addresses and keys to check telegrams with\n"
    "                     (default VDXconfig.txt in the current directory)\n"
    "  --rig FILE         the meters' addresses and keys from a rig file\n"
    "  --frames FILE      also write every frame received, one hex line each\n"
    "  --reply MODE       answer each telegram: none (default), ack (a short\n"
    "                     frame), big (a frame of 600 payload bytes), garbage\n"
    "                     (random bytes), mixed (all three in turn), slow (a\n"
    "                     frame that announces 4000 bytes and trickles them in,\n"
    "                     100 bytes every 50 ms)\n"
    "  --unplug-after N   pull the stick out after N telegrams\n"
    "  --replug-after-seconds S\n"
    "                     plug it in again S seconds after that\n"
    "  --busy             hold the port after the program's discovery, so that\n"
    "                     opening it fails\n"
    "  --serial SERIAL    the stick's USB serial number (default VX00010042);\n"
    "                     given again, one more stick is attached (on\n"
    "                     /dev/ttyACM10, 20, ...), whose telegrams are printed\n"
    "                     after \"stick SERIAL:\"; --reply, --unplug-after and\n"
    "                     --busy act on the first stick\n"
    "  --radio FILE       run nothing: check the radio frames in FILE (- for\n"
    "                     standard input), one a line as verdanox-frames prints\n"
    "                     them with --format radio, rtlwmbus or telegram-lines,\n"
    "                     and print the verdicts\n"
    "  --radio-crc FILE   the same for --format radio-crc (frame format A's\n"
    "                     CRC blocks, each checked)\n";

int usageError(const std::string& what) { return vdx::usageError("verdanox-virtual-stick", what, kUsage); }

// The Verdanox program beside this tool (an installed pair), else the one of
// the build this tool belongs to, else whatever "verdanox" the PATH finds.
std::string defaultProgram() {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = '\0';
        std::string sibling = self;
        sibling = sibling.substr(0, sibling.rfind('/') + 1) + "verdanox";
        if (access(sibling.c_str(), X_OK) == 0) return sibling;
    }
    if (access(VDX_DEFAULT_PROGRAM, X_OK) == 0) return VDX_DEFAULT_PROGRAM;
    return "verdanox";
}

}  // namespace

bool parseOptions(int argc, char** argv, Options* o, int* exitCode) {
    enum { kReplugAfter = 1000, kRadio, kRadioCrc };
    static const option kOptions[] = {{"config", required_argument, nullptr, 'c'},
                                      {"frames", required_argument, nullptr, 'f'},
                                      {"reply", required_argument, nullptr, 'r'},
                                      {"unplug-after", required_argument, nullptr, 'u'},
                                      {"replug-after-seconds", required_argument, nullptr, kReplugAfter},
                                      {"busy", no_argument, nullptr, 'b'},
                                      {"serial", required_argument, nullptr, 's'},
                                      {"rig", required_argument, nullptr, 'R'},
                                      {"radio", required_argument, nullptr, kRadio},
                                      {"radio-crc", required_argument, nullptr, kRadioCrc},
                                      {"help", no_argument, nullptr, 'h'},
                                      {"version", no_argument, nullptr, 'V'},
                                      {nullptr, 0, nullptr, 0}};
    opterr = 0;
    // '+': the options end at the command, whose own options stay its own
    static const char kShort[] = "+:c:f:r:u:bs:R:hV";
    for (int c; (c = getopt_long(argc, argv, kShort, kOptions, nullptr)) != -1;) {
        switch (c) {
            case 'c':
                o->config = optarg;
                o->configGiven = true;
                break;
            case 'f':
                o->framesPath = optarg;
                break;
            case 's':
                o->serials.emplace_back(optarg);
                break;
            case 'R':
                o->rig = optarg;
                break;
            case 'b':
                o->busy = true;
                break;
            case 'r': {
                const std::string v = optarg;
                if (v != "none" && v != "ack" && v != "big" && v != "garbage" && v != "mixed" && v != "slow")
                    return *exitCode = usageError("unknown reply mode " + v), false;
                o->reply = v;
                break;
            }
            case 'u':
                if (!vdx::parseWhole(optarg, 0, LONG_MAX, &o->unplugAfter))
                    return *exitCode = usageError("--unplug-after needs a whole number"), false;
                break;
            case kRadio:
            case kRadioCrc:
                if (!o->radio.empty()) return *exitCode = usageError("give one of --radio and --radio-crc"), false;
                o->radio = optarg;
                o->radioCrc = c == kRadioCrc;
                break;
            case kReplugAfter:
                if (!vdx::parseWhole(optarg, 0, LONG_MAX, &o->replugAfter))
                    return *exitCode = usageError("--replug-after-seconds needs a whole number"), false;
                break;
            default: {
                const int status =
                    vdx::sharedOption(c, "verdanox-virtual-stick", kUsage, kHelp, optopt, argv[optind - 1], kShort);
                return *exitCode = status < 0 ? 0 : status, false;
            }
        }
    }
    for (int i = optind; i < argc; ++i) o->command.emplace_back(argv[i]);
    if (!o->radio.empty() && !o->command.empty())
        return *exitCode = usageError("--radio and --radio-crc run no command"), false;
    if (o->command.empty()) o->command.emplace_back(defaultProgram());
    if (o->serials.empty()) o->serials.emplace_back("VX00010042");
    return true;
}

}  // namespace vstick
